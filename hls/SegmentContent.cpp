#include "hls/SegmentContent.h"

#include "support/FileUtils.h"

#include <QFile>
#include <QList>

#include <array>
#include <cctype>

namespace {

constexpr int kTsPacket = 188;
constexpr int kAesBlock = 16;

struct AesTables {
    std::array<quint8, 256> sbox{}, inverse{};
    // Products in GF(2^8) that the column mixing needs, by factor.
    std::array<quint8, 256> x2{}, x3{}, x9{}, x11{}, x13{}, x14{};
    AesTables() {
        // The S-box from the multiplicative inverse in GF(2^8) and the affine map.
        quint8 p = 1, q = 1;
        do {
            p = quint8(p ^ (p << 1) ^ ((p & 0x80) ? 0x1b : 0));
            q ^= quint8(q << 1);
            q ^= quint8(q << 2);
            q ^= quint8(q << 4);
            if (q & 0x80)
                q ^= 0x09;
            const auto rotl = [](quint8 x, int n) { return quint8((x << n) | (x >> (8 - n))); };
            sbox[p] = quint8(q ^ rotl(q, 1) ^ rotl(q, 2) ^ rotl(q, 3) ^ rotl(q, 4) ^ 0x63);
        } while (p != 1);
        sbox[0] = 0x63;
        for (int i = 0; i < 256; ++i) {
            inverse[sbox[i]] = quint8(i);
            x2[i] = Multiply(quint8(i), 2);
            x3[i] = Multiply(quint8(i), 3);
            x9[i] = Multiply(quint8(i), 9);
            x11[i] = Multiply(quint8(i), 11);
            x13[i] = Multiply(quint8(i), 13);
            x14[i] = Multiply(quint8(i), 14);
        }
    }
    static quint8 Multiply(quint8 a, quint8 b) {
        quint8 product = 0;
        while (b) {
            if (b & 1)
                product ^= a;
            a = quint8((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
            b >>= 1;
        }
        return product;
    }
};

const AesTables &Tables() {
    static const AesTables tables;
    return tables;
}

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
    const QByteArray plain = Aes128DecryptBlock(expect.Key, in.read(kAesBlock));
    if (plain.size() != kAesBlock || previous.size() != kAesBlock)
        return SegmentContent::Broken;
    const int pad = quint8(plain.at(kAesBlock - 1) ^ previous.at(kAesBlock - 1));
    if (pad < 1 || pad > kAesBlock)
        return SegmentContent::Broken;
    for (int i = kAesBlock - pad; i < kAesBlock; ++i) {
        if (quint8(plain.at(i) ^ previous.at(i)) != pad)
            return SegmentContent::Broken;
    }
    return SegmentContent::Whole;
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

Aes128::Aes128(const QByteArray &key) {
    if (key.size() != kAesBlock)
        return;
    m_valid = true;
    const AesTables &t = Tables();
    // The eleven round keys, word after word.
    for (int i = 0; i < 16; ++i)
        m_w[i] = quint8(key.at(i));
    quint8 rcon = 1;
    for (int i = 16; i < 176; i += 4) {
        std::array<quint8, 4> temp{m_w[i - 4], m_w[i - 3], m_w[i - 2], m_w[i - 1]};
        if (i % 16 == 0) {
            temp = {quint8(t.sbox[temp[1]] ^ rcon), t.sbox[temp[2]], t.sbox[temp[3]],
                    t.sbox[temp[0]]};
            rcon = t.x2[rcon];
        }
        for (int j = 0; j < 4; ++j)
            m_w[i + j] = quint8(m_w[i - 16 + j] ^ temp[j]);
    }
}

// The state column after column: byte r + 4c is row r of column c.
void Aes128::Decrypt(quint8 *s) const {
    const AesTables &t = Tables();
    for (int i = 0; i < 16; ++i)
        s[i] ^= m_w[160 + i];
    for (int round = 9; round >= 0; --round) {
        std::array<quint8, 16> shifted{};
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c)
                shifted[r + 4 * ((c + r) % 4)] = t.inverse[s[r + 4 * c]];
        }
        for (int i = 0; i < 16; ++i)
            s[i] = quint8(shifted[i] ^ m_w[16 * round + i]);
        if (round == 0)
            break;
        for (int c = 0; c < 4; ++c) {
            const quint8 a0 = s[4 * c], a1 = s[4 * c + 1], a2 = s[4 * c + 2], a3 = s[4 * c + 3];
            s[4 * c] = t.x14[a0] ^ t.x11[a1] ^ t.x13[a2] ^ t.x9[a3];
            s[4 * c + 1] = t.x9[a0] ^ t.x14[a1] ^ t.x11[a2] ^ t.x13[a3];
            s[4 * c + 2] = t.x13[a0] ^ t.x9[a1] ^ t.x14[a2] ^ t.x11[a3];
            s[4 * c + 3] = t.x11[a0] ^ t.x13[a1] ^ t.x9[a2] ^ t.x14[a3];
        }
    }
}

void Aes128::Encrypt(quint8 *s) const {
    const AesTables &t = Tables();
    for (int i = 0; i < 16; ++i)
        s[i] ^= m_w[i];
    for (int round = 1; round <= 10; ++round) {
        std::array<quint8, 16> shifted{};
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c)
                shifted[r + 4 * c] = t.sbox[s[r + 4 * ((c + r) % 4)]];
        }
        for (int i = 0; i < 16; ++i)
            s[i] = shifted[i];
        if (round < 10) {
            for (int c = 0; c < 4; ++c) {
                const quint8 a0 = s[4 * c], a1 = s[4 * c + 1], a2 = s[4 * c + 2], a3 = s[4 * c + 3];
                s[4 * c] = t.x2[a0] ^ t.x3[a1] ^ a2 ^ a3;
                s[4 * c + 1] = a0 ^ t.x2[a1] ^ t.x3[a2] ^ a3;
                s[4 * c + 2] = a0 ^ a1 ^ t.x2[a2] ^ t.x3[a3];
                s[4 * c + 3] = t.x3[a0] ^ a1 ^ a2 ^ t.x2[a3];
            }
        }
        for (int i = 0; i < 16; ++i)
            s[i] ^= m_w[16 * round + i];
    }
}

namespace {

QByteArray RunBlock(const QByteArray &key, const QByteArray &block, bool encrypt) {
    const Aes128 aes(key);
    if (!aes.Valid() || block.size() != kAesBlock)
        return {};
    QByteArray out(block);
    quint8 *s = reinterpret_cast<quint8 *>(out.data());
    encrypt ? aes.Encrypt(s) : aes.Decrypt(s);
    return out;
}

}  // namespace

QByteArray Aes128DecryptBlock(const QByteArray &key, const QByteArray &block) {
    return RunBlock(key, block, false);
}

QByteArray Aes128EncryptBlock(const QByteArray &key, const QByteArray &block) {
    return RunBlock(key, block, true);
}

SegmentContent CheckSegmentContent(const QString &file, const SegmentExpectation &expect) {
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
