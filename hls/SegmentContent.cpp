#include "hls/SegmentContent.h"

#include "hls/Subtitles.h"

#include "support/FileUtils.h"

#include <QFile>
#include <QList>

#include <cctype>

namespace {

constexpr int kTsPacket = 188;
constexpr int kAesBlock = 16;

// Bytes a page of markup starts with, after any whitespace: what a server sends instead of the
// segment when it answers with a login or rate-limit page.
bool StartsLikeMarkup(const QByteArray &head) {
    int i = 0;
    while (i < head.size() && std::isspace(static_cast<unsigned char>(head.at(i))))
        ++i;
    const QByteArray rest = head.mid(i, 9).toLower();
    return rest.startsWith("<!doctype") || rest.startsWith("<html") || rest.startsWith("<?xml");
}

// CBC with PKCS#7 padding: the last block, decrypted and XORed with the block before it (the IV
// for a one-block file), ends in n bytes of value n, 1 <= n <= 16. A body cut short, or one
// that is not this ciphertext, passes with a chance of about 1 in 256.
SegmentContent CheckAes(QFile &in, qint64 size, const SegmentExpectation &expect) {
    if (size % kAesBlock != 0)
        return SegmentContent::Broken;
    QByteArray previous = expect.Iv;
    if (size >= 2 * kAesBlock) {
        in.seek(size - 2 * kAesBlock);
        previous = in.read(kAesBlock);
    } else {
        in.seek(0);
    }
    const Aes128 aes(expect.Key);
    QByteArray last = in.read(kAesBlock);
    if (!aes.Valid() || last.size() != kAesBlock || previous.size() != kAesBlock)
        return SegmentContent::Broken;
    CbcDecrypt(aes, last, previous);
    return Pkcs7Padding(last) > 0 ? SegmentContent::Whole : SegmentContent::Broken;
}

// Bytes taken by the ID3v2 tags at the start of the file (0 when there is none).
qint64 Id3Length(QFile &in) {
    qint64 offset = 0;
    for (;;) {
        in.seek(offset);
        const QByteArray header = in.read(10);
        if (header.size() < 10 || !header.startsWith("ID3"))
            return offset;
        qint64 size = 0;
        for (int i = 6; i < 10; ++i)
            size = (size << 7) | (quint8(header.at(i)) & 0x7f);
        const bool footer = quint8(header.at(5)) & 0x10;
        offset += 10 + size + (footer ? 10 : 0);
    }
}

SegmentContent CheckTs(QFile &in, qint64 start, qint64 size) {
    if ((size - start) % kTsPacket != 0)
        return SegmentContent::Broken;
    in.seek(start);
    constexpr qint64 kChunk = qint64(kTsPacket) * 2048;
    qint64 offset = start;
    while (offset < size) {
        const QByteArray chunk = in.read(qMin(kChunk, size - offset));
        if (chunk.isEmpty() || chunk.size() % kTsPacket != 0)
            return SegmentContent::Broken;
        for (int i = 0; i < chunk.size(); i += kTsPacket) {
            if (quint8(chunk.at(i)) != 0x47)
                return SegmentContent::Broken;
        }
        offset += chunk.size();
    }
    return SegmentContent::Whole;
}

bool IsBoxType(const QByteArray &type) {
    for (const char c : type) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == ' '))
            return false;
    }
    return type.size() == 4;
}

quint64 BigEndian(const QByteArray &bytes) {
    quint64 value = 0;
    for (const char c : bytes)
        value = (value << 8) | quint8(c);
    return value;
}

SegmentContent CheckMp4(QFile &in, qint64 size) {
    qint64 offset = 0;
    while (offset < size) {
        in.seek(offset);
        const QByteArray header = in.read(16);
        if (header.size() < 8 || !IsBoxType(header.mid(4, 4)))
            return SegmentContent::Broken;
        quint64 box = BigEndian(header.left(4));
        if (box == 1) {
            if (header.size() < 16)
                return SegmentContent::Broken;
            box = BigEndian(header.mid(8, 8));
        } else if (box == 0) {
            box = quint64(size - offset);  // the last box runs to the end
        }
        if (box < 8 || box > quint64(size - offset))
            return SegmentContent::Broken;
        offset += qint64(box);
    }
    return SegmentContent::Whole;
}

}  // namespace

SegmentContent CheckSegmentContent(const QString &file, const SegmentExpectation &expect) {
    if (expect.WebVtt)
        return CheckWebVttContent(file);
    const qint64 size = FileSizeByName(file);
    QFile in(file);
    if (size <= 0 || size < expect.MinSize || !in.open(QIODevice::ReadOnly))
        return SegmentContent::Broken;
    if (StartsLikeMarkup(in.read(256)))
        return SegmentContent::Broken;
    if (expect.Opaque)
        return SegmentContent::NotJudged;
    if (!expect.Key.isEmpty())
        return CheckAes(in, size, expect);
    const qint64 start = Id3Length(in);
    if (start > size)
        return SegmentContent::Broken;
    in.seek(start);
    const QByteArray head = in.read(8);
    if (start == size)
        return SegmentContent::Broken;  // a tag and no media
    if (!head.isEmpty() && quint8(head.at(0)) == 0x47)
        return CheckTs(in, start, size);
    static const QList<QByteArray> mp4Types{"ftyp", "styp", "moof", "moov", "sidx",
                                            "emsg", "prft", "mdat", "free", "skip"};
    if (start == 0 && head.size() == 8 && mp4Types.contains(head.mid(4, 4)))
        return CheckMp4(in, size);
    return SegmentContent::NotJudged;
}

QStringList UnfinishedInSession(const QString &sessionFile) {
    QStringList names;
    QFile in(sessionFile);
    if (!in.open(QIODevice::ReadOnly))
        return names;
    while (!in.atEnd()) {
        const QString line = QString::fromUtf8(in.readLine()).trimmed();
        if (line.startsWith(QLatin1String("out=")))
            names << line.mid(4);
    }
    return names;
}
