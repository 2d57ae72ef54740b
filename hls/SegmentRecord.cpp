#include "hls/SegmentRecord.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace {

const QByteArray kHeader = QByteArrayLiteral("#KORVI-RESUME 1");

}  // namespace

SegmentRecord LoadSegmentRecord(const QString &file) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly) || in.readLine().trimmed() != kHeader)
        return {};
    SegmentRecord record;
    while (!in.atEnd()) {
        const QString line = QString::fromUtf8(in.readLine()).trimmed();
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
    return record;
}

bool SaveSegmentRecord(const QString &file, const SegmentRecord &record) {
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    QByteArray text = kHeader + '\n';
    for (const SegmentRecordEntry &entry : record) {
        text += (entry.Done ? "1 " : "0 ") + QByteArray::number(entry.Size) + ' ' +
                entry.LocalName.toUtf8() + ' ' + entry.Url.toUtf8() + '\n';
    }
    return out.write(text) == text.size() && out.commit();
}
