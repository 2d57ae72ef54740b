#include "hls/DisguisedSegment.h"

#include "support/FileUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <algorithm>
#include <array>

namespace {

constexpr int kTsPacket = 188;
constexpr int kBlock = 16;
// Sync bytes that must follow the image, one a packet, before the rest is taken for MPEG-TS.
constexpr int kTsPacketsToSee = 5;
// Bytes of padding some hosts leave between the image and the first packet: less than one.
constexpr int kMaxGap = kTsPacket - 1;
constexpr qint64 kChunk = 1 << 20;  // a multiple of the AES block

QByteArray ReadAt(QIODevice &in, qint64 pos, qint64 count) {
    if (pos < 0 || count <= 0 || !in.seek(pos))
        return {};
    return in.read(count);
}

quint32 BigEndian(const QByteArray &bytes, int at, int count) {
    quint32 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

quint32 LittleEndian32(const QByteArray &bytes, int at) {
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

bool IsChunkType(const QByteArray &type) {
    for (const char c : type) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return false;
    }
    return type.size() == 4;
}

// Chunk after chunk from IHDR to IEND, each length, type, data and CRC.
qint64 PngEnd(QIODevice &in, qint64 size) {
    qint64 pos = 8;
    for (bool first = true; pos + 12 <= size; first = false) {
        const QByteArray header = ReadAt(in, pos, 8);
        if (header.size() < 8)
            return -1;
        const quint32 length = BigEndian(header, 0, 4);
        const QByteArray type = header.mid(4, 4);
        if (length > 0x7fffffffu || !IsChunkType(type) || (first && type != "IHDR"))
            return -1;
        const qint64 next = pos + 12 + qint64(length);
        if (next > size)
            return -1;
        if (type == "IEND")
            return next;
        pos = next;
    }
    return -1;
}

// The offset of the marker that ends the entropy-coded data starting at pos, -1 when the file
// ends first. Stuffed zeros, restart markers and fill bytes belong to the data.
qint64 NextJpegMarker(QIODevice &in, qint64 pos, qint64 size) {
    while (pos < size - 1) {
        const QByteArray chunk = ReadAt(in, pos, qMin(kChunk, size - pos));
        if (chunk.size() < 2)
            return -1;
        for (int i = 0; i + 1 < chunk.size(); ++i) {
            if (quint8(chunk.at(i)) != 0xff)
                continue;
            const quint8 next = quint8(chunk.at(i + 1));
            if (next != 0x00 && next != 0xff && (next < 0xd0 || next > 0xd7))
                return pos + i;
        }
        pos += chunk.size() - 1;  // the last byte may start a marker
    }
    return -1;
}

// Marker after marker to the end of image; each scan's data is read through to its end.
qint64 JpegEnd(QIODevice &in, qint64 size) {
    qint64 pos = 2;
    for (;;) {
        const QByteArray m = ReadAt(in, pos, 4);
        if (m.size() < 2 || quint8(m.at(0)) != 0xff)
            return -1;
        const quint8 marker = quint8(m.at(1));
        if (marker == 0xff) {
            ++pos;
            continue;
        }
        if (marker == 0xd9)
            return pos + 2;
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {
            pos += 2;
            continue;
        }
        if (marker == 0x00 || marker == 0xd8 || m.size() < 4)
            return -1;
        const qint64 length = BigEndian(m, 2, 2);
        if (length < 2 || pos + 2 + length > size)
            return -1;
        pos += 2 + length;
        if (marker == 0xda && (pos = NextJpegMarker(in, pos, size)) < 0)
            return -1;
    }
}

qint64 GifColourTable(char flags) {
    return (quint8(flags) & 0x80) ? qint64(3) << ((quint8(flags) & 7) + 1) : 0;
}

qint64 SkipGifSubBlocks(QIODevice &in, qint64 pos, qint64 size) {
    while (pos < size) {
        const QByteArray length = ReadAt(in, pos, 1);
        if (length.isEmpty())
            return -1;
        pos += 1 + quint8(length.at(0));
        if (length.at(0) == 0)
            return pos;
    }
    return -1;
}

// The screen descriptor, then extensions and images, each a run of sub-blocks, to the trailer.
qint64 GifEnd(QIODevice &in, qint64 size) {
    const QByteArray screen = ReadAt(in, 6, 7);
    if (screen.size() < 7)
        return -1;
    qint64 pos = 13 + GifColourTable(screen.at(4));
    while (pos >= 0 && pos < size) {
        const QByteArray block = ReadAt(in, pos, 10);
        if (block.isEmpty())
            return -1;
        switch (quint8(block.at(0))) {
            case 0x3b:
                return pos + 1;
            case 0x21:
                pos = SkipGifSubBlocks(in, pos + 2, size);
                break;
            case 0x2c:
                if (block.size() < 10)
                    return -1;
                // Descriptor, local colour table, the LZW code size, then the data.
                pos = SkipGifSubBlocks(in, pos + 10 + GifColourTable(block.at(9)) + 1, size);
                break;
            default:
                return -1;
        }
    }
    return -1;
}

// The file header holds the whole file's size; the information header that follows is one of
// the known sizes, and the pixels start after it.
qint64 BmpEnd(QIODevice &in, qint64 size) {
    const QByteArray header = ReadAt(in, 0, 18);
    if (header.size() < 18)
        return -1;
    const qint64 total = LittleEndian32(header, 2), pixels = LittleEndian32(header, 10);
    const quint32 info = LittleEndian32(header, 14);
    static const quint32 infoSizes[] = {12, 16, 40, 52, 56, 64, 108, 124};
    if (std::find(std::begin(infoSizes), std::end(infoSizes), info) == std::end(infoSizes) ||
        pixels < 14 + qint64(info) || pixels > total || total > size)
        return -1;
    return total;
}

bool StartsLikeImage(const QByteArray &head) {
    return head.startsWith("\x89PNG\r\n\x1a\n") || head.startsWith("\xff\xd8\xff") ||
           head.startsWith("GIF87a") || head.startsWith("GIF89a") || head.startsWith("BM");
}

// Where MPEG-TS starts at `from` or within kMaxGap bytes after it: a sync byte at every packet
// start for kTsPacketsToSee packets, or for every packet of a shorter rest. Past a gap, a few
// sync bytes are a chance, so the full count is asked for. -1 when none is found.
qint64 TsStart(QIODevice &in, qint64 from, qint64 size) {
    const QByteArray data = ReadAt(in, from, kMaxGap + qint64(kTsPacket) * kTsPacketsToSee);
    for (int gap = 0; gap <= kMaxGap && gap < data.size(); ++gap) {
        const qint64 packets = (size - from - gap) / kTsPacket;
        const int need = int(qMin<qint64>(packets, kTsPacketsToSee));
        if (need < (gap == 0 ? 1 : kTsPacketsToSee))
            continue;
        bool synced = true;
        for (int k = 0; k < need && synced; ++k)
            synced = quint8(data.at(gap + k * kTsPacket)) == 0x47;
        if (synced)
            return from + gap;
    }
    return -1;
}

// The rest of the file from `from` is TS under the key: a multiple of the block whose first
// block decrypts to a sync byte and whose last block to valid padding.
bool CipherOfTsAt(QIODevice &in, qint64 from, qint64 size, const Aes128 &aes,
                  const QByteArray &iv) {
    const qint64 length = size - from;
    if (length < kBlock || length % kBlock != 0)
        return false;
    QByteArray first = ReadAt(in, from, kBlock), previous = iv;
    CbcDecrypt(aes, first, previous);
    previous = length >= 2 * kBlock ? ReadAt(in, size - 2 * kBlock, kBlock) : iv;
    QByteArray last = ReadAt(in, size - kBlock, kBlock);
    if (first.size() != kBlock || previous.size() != kBlock || last.size() != kBlock)
        return false;
    CbcDecrypt(aes, last, previous);
    return quint8(first.at(0)) == 0x47 && Pkcs7Padding(last) > 0;
}

// Streams the bytes of `in` from `from` to its end into a file that replaces `file`.
bool ReplaceWithTail(const QString &file, QIODevice &in, qint64 from, qint64 size) {
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || !in.seek(from))
        return false;
    for (qint64 pos = from; pos < size;) {
        const QByteArray chunk = in.read(qMin(kChunk, size - pos));
        if (chunk.isEmpty() || out.write(chunk) != chunk.size())
            return false;
        pos += chunk.size();
    }
    return out.commit();
}

// The plaintext of the whole file, padding removed, into `plain`.
bool DecryptInto(QIODevice &in, qint64 size, const Aes128 &aes, const QByteArray &iv,
                 QFile &plain) {
    QByteArray previous = iv, chunk;
    if (!in.seek(0))
        return false;
    for (qint64 pos = 0; pos < size; pos += chunk.size()) {
        chunk = in.read(qMin(kChunk, size - pos));
        if (chunk.isEmpty() || chunk.size() % kBlock != 0)
            return false;
        CbcDecrypt(aes, chunk, previous);
        if (plain.write(chunk) != chunk.size())
            return false;
    }
    const int pad = Pkcs7Padding(chunk.right(kBlock));
    return pad > 0 && plain.flush() && plain.resize(size - pad);
}

// Encrypts `plain` from `from` to `to` with the key and IV into `out`, with PKCS#7 padding.
bool EncryptInto(QIODevice &plain, qint64 from, qint64 to, const Aes128 &aes, const QByteArray &iv,
                 QIODevice &out) {
    QByteArray previous = iv;
    if (!plain.seek(from))
        return false;
    qint64 pos = from;
    do {
        const qint64 want = qMin(kChunk, to - pos);
        QByteArray chunk = plain.read(want);
        if (chunk.size() != want)
            return false;
        pos += want;
        if (pos == to) {
            const int pad = kBlock - int(chunk.size() % kBlock);
            chunk.append(pad, char(pad));
        }
        CbcEncrypt(aes, chunk, previous);
        if (out.write(chunk) != chunk.size())
            return false;
    } while (pos < to);
    return true;
}

// The image inside the plaintext: decrypted through a temporary file beside the segment, cut,
// and encrypted again with the same key and IV, so the local playlist stays as it is.
bool StripInsidePlaintext(const QString &file, QIODevice &in, qint64 size, const Aes128 &aes,
                          const QByteArray &iv) {
    if (size < kBlock || size % kBlock != 0)
        return false;
    QByteArray first = ReadAt(in, 0, kBlock), previous = iv;
    CbcDecrypt(aes, first, previous);
    if (!StartsLikeImage(first))
        return false;
    QTemporaryFile plain(QFileInfo(file).absolutePath() + QLatin1String("/XXXXXX.plain"));
    if (!plain.open() || !DecryptInto(in, size, aes, iv, plain))
        return false;
    const qint64 plainSize = plain.size();
    const qint64 end = LeadingImageEnd(plain, plainSize);
    const qint64 ts = end > 0 ? TsStart(plain, end, plainSize) : -1;
    if (ts < 0)
        return false;
    QSaveFile out(file);
    return out.open(QIODevice::WriteOnly) && EncryptInto(plain, ts, plainSize, aes, iv, out) &&
           out.commit();
}

}  // namespace

qint64 LeadingImageEnd(QIODevice &in, qint64 size) {
    const QByteArray head = ReadAt(in, 0, 8);
    if (head.startsWith("\x89PNG\r\n\x1a\n"))
        return PngEnd(in, size);
    if (head.startsWith("\xff\xd8\xff"))
        return JpegEnd(in, size);
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return GifEnd(in, size);
    if (head.startsWith("BM"))
        return BmpEnd(in, size);
    return -1;
}

bool StripLeadingImage(const QString &file, const SegmentExpectation &expect) {
    // Byte ranges point into the file as served: cutting it would move them.
    if (expect.Opaque || expect.MinSize > 0)
        return false;
    const qint64 size = FileSizeByName(file);
    QFile in(file);
    if (size <= 0 || !in.open(QIODevice::ReadOnly))
        return false;
    const qint64 end = LeadingImageEnd(in, size);
    if (expect.Key.isEmpty()) {
        const qint64 ts = end > 0 ? TsStart(in, end, size) : -1;
        return ts > 0 && ReplaceWithTail(file, in, ts, size);
    }
    const Aes128 aes(expect.Key);
    if (!aes.Valid() || expect.Iv.size() != kBlock)
        return false;
    if (end > 0)
        return CipherOfTsAt(in, end, size, aes, expect.Iv) && ReplaceWithTail(file, in, end, size);
    return StripInsidePlaintext(file, in, size, aes, expect.Iv);
}
