#include "hls/SegmentRecord.h"

#include <QFile>
#include <QStringList>

#include <cstdio>

namespace {

const QByteArray kHeader = QByteArrayLiteral("#KORVI-RESUME 2");
// Records without key lines, still read.
const QByteArray kHeaderWithoutKeys = QByteArrayLiteral("#KORVI-RESUME 1");
const QByteArray kKeyTag = QByteArrayLiteral("#KEY ");

}  // namespace

SegmentRecord LoadSegmentRecord(const QString &file, SegmentKeySums *keys) {
    if (keys)
        keys->clear();
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    const QByteArray header = in.readLine().trimmed();
    if (header != kHeader && header != kHeaderWithoutKeys)
        return {};
    SegmentRecord record;
    SegmentKeySums sums;
    while (!in.atEnd()) {
        const QByteArray raw = in.readLine().trimmed();
        if (header == kHeader && record.empty() && raw.startsWith(kKeyTag)) {
            const QByteArray sum = raw.mid(kKeyTag.size()).split(' ').first();
            const QString url = QString::fromUtf8(raw).section(QLatin1Char(' '), 2);
            if (sum.size() != 64 || QByteArray::fromHex(sum).toHex() != sum.toLower() ||
                url.isEmpty())
                return {};
            sums.push_back({url, QByteArray::fromHex(sum)});
            continue;
        }
        const QString line = QString::fromUtf8(raw);
        const QStringList fields = line.split(QLatin1Char(' '));
        bool sized = false;
        SegmentRecordEntry entry;
        if (fields.size() >= 4 &&
            (fields.at(0) == QLatin1String("0") || fields.at(0) == QLatin1String("1")))
            entry.Size = fields.at(1).toLongLong(&sized);
        if (!sized || entry.Size < 0 || fields.at(2).isEmpty())
            return {};
        entry.Done = fields.at(0) == QLatin1String("1");
        entry.LocalName = fields.at(2);
        entry.Url = line.section(QLatin1Char(' '), 3);
        record.push_back(entry);
    }
    if (keys && !record.empty())
        *keys = sums;
    return record;
}

// Written to a temporary name and renamed into place, but not synced to the disk as QSaveFile
// would: a sync on the window's thread at every run's end stalled it for up to a second on a
// busy disk. A record that a power loss leaves cut short is no record, and its folder starts
// over.
bool SaveSegmentRecord(const QString &file, const SegmentRecord &record,
                       const SegmentKeySums &keys) {
    const QString temporary = file + QLatin1String(".new");
    QFile out(temporary);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray text = kHeader + '\n';
    for (const SegmentKeySum &key : keys)
        text += kKeyTag + key.Sha256.toHex() + ' ' + key.Url.toUtf8() + '\n';
    for (const SegmentRecordEntry &entry : record) {
        text += (entry.Done ? "1 " : "0 ") + QByteArray::number(entry.Size) + ' ' +
                entry.LocalName.toUtf8() + ' ' + entry.Url.toUtf8() + '\n';
    }
    const bool written = out.write(text) == text.size() && out.flush();
    out.close();
    const auto renamed = [&] {
        return std::rename(QFile::encodeName(temporary).constData(),
                           QFile::encodeName(file).constData()) == 0;
    };
    // A rename that does not replace (Windows) replaces by removing first.
    if (!written || !(renamed() || (QFile::remove(file) && renamed()))) {
        QFile::remove(temporary);
        return false;
    }
    return true;
}
