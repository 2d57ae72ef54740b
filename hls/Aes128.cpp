#include "hls/Aes128.h"

#include <algorithm>

namespace {

constexpr int kBlock = 16;

quint8 Multiply(quint8 a, quint8 b) {
    quint8 product = 0;
    while (b) {
        if (b & 1)
            product ^= a;
        a = quint8((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
        b >>= 1;
    }
    return product;
}

quint32 Word(quint8 b0, quint8 b1, quint8 b2, quint8 b3) {
    return quint32(b0) << 24 | quint32(b1) << 16 | quint32(b2) << 8 | b3;
}

quint32 Ror(quint32 x, int n) {
    return (x >> n) | (x << (32 - n));
}

quint8 Byte(quint32 word, int row) {
    return quint8(word >> (24 - 8 * row));
}

struct AesTables {
    std::array<quint8, 256> sbox{}, inverse{};
    // One column of the mixing of a byte after substitution, row 0 first: (2, 1, 1, 3) times
    // S(x) forward and (14, 9, 13, 11) times S^-1(x) backward; the other rows are rotations.
    std::array<quint32, 256> forward{}, backward{};
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
        for (int i = 0; i < 256; ++i)
            inverse[sbox[i]] = quint8(i);
        for (int i = 0; i < 256; ++i) {
            const quint8 s = sbox[i], v = inverse[i];
            forward[i] = Word(Multiply(s, 2), s, s, Multiply(s, 3));
            backward[i] = Word(Multiply(v, 14), Multiply(v, 9), Multiply(v, 13), Multiply(v, 11));
        }
    }
};

const AesTables &Tables() {
    static const AesTables tables;
    return tables;
}

// The state's four columns, as words with row 0 in the top byte.
void Load(const quint8 *block, quint32 *s, const quint32 *key) {
    for (int c = 0; c < 4; ++c)
        s[c] = Word(block[4 * c], block[4 * c + 1], block[4 * c + 2], block[4 * c + 3]) ^ key[c];
}

void Store(const quint32 *s, quint8 *block) {
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r)
            block[4 * c + r] = Byte(s[c], r);
    }
}

QByteArray RunBlock(const QByteArray &key, const QByteArray &block, bool encrypt) {
    const Aes128 aes(key);
    if (!aes.Valid() || block.size() != kBlock)
        return {};
    QByteArray out(block);
    quint8 *data = reinterpret_cast<quint8 *>(out.data());
    encrypt ? aes.Encrypt(data) : aes.Decrypt(data);
    return out;
}

}  // namespace

Aes128::Aes128(const QByteArray &key) {
    if (key.size() != kBlock)
        return;
    m_valid = true;
    const AesTables &t = Tables();
    for (int i = 0; i < 4; ++i)
        m_encrypt[i] = Word(quint8(key.at(4 * i)), quint8(key.at(4 * i + 1)),
                            quint8(key.at(4 * i + 2)), quint8(key.at(4 * i + 3)));
    quint8 rcon = 1;
    for (int i = 4; i < 44; ++i) {
        quint32 temp = m_encrypt[i - 1];
        if (i % 4 == 0) {
            temp = Word(quint8(t.sbox[Byte(temp, 1)] ^ rcon), t.sbox[Byte(temp, 2)],
                        t.sbox[Byte(temp, 3)], t.sbox[Byte(temp, 0)]);
            rcon = Multiply(rcon, 2);
        }
        m_encrypt[i] = m_encrypt[i - 4] ^ temp;
    }
    // backward[sbox[x]] is (14, 9, 13, 11) times x: the inverse mixing of a plain byte.
    m_decrypt = m_encrypt;
    for (int i = 4; i < 40; ++i) {
        const quint32 w = m_encrypt[i];
        m_decrypt[i] = t.backward[t.sbox[Byte(w, 0)]] ^ Ror(t.backward[t.sbox[Byte(w, 1)]], 8) ^
                       Ror(t.backward[t.sbox[Byte(w, 2)]], 16) ^
                       Ror(t.backward[t.sbox[Byte(w, 3)]], 24);
    }
}

// Each round takes row r of the new column c from column c + r (shifted rows), substitutes it
// and mixes the column, all in one look-up.
void Aes128::Encrypt(quint8 *block) const {
    const AesTables &t = Tables();
    quint32 s[4], n[4];
    Load(block, s, m_encrypt.data());
    for (int round = 1; round < 10; ++round) {
        for (int c = 0; c < 4; ++c)
            n[c] = t.forward[Byte(s[c], 0)] ^ Ror(t.forward[Byte(s[(c + 1) % 4], 1)], 8) ^
                   Ror(t.forward[Byte(s[(c + 2) % 4], 2)], 16) ^
                   Ror(t.forward[Byte(s[(c + 3) % 4], 3)], 24) ^ m_encrypt[4 * round + c];
        std::copy(n, n + 4, s);
    }
    for (int c = 0; c < 4; ++c)
        n[c] = Word(t.sbox[Byte(s[c], 0)], t.sbox[Byte(s[(c + 1) % 4], 1)],
                    t.sbox[Byte(s[(c + 2) % 4], 2)], t.sbox[Byte(s[(c + 3) % 4], 3)]) ^
               m_encrypt[40 + c];
    Store(n, block);
}

// The rounds backward: row r of the new column c comes from column c - r.
void Aes128::Decrypt(quint8 *block) const {
    const AesTables &t = Tables();
    quint32 s[4], n[4];
    Load(block, s, m_decrypt.data() + 40);
    for (int round = 9; round >= 1; --round) {
        for (int c = 0; c < 4; ++c)
            n[c] = t.backward[Byte(s[c], 0)] ^ Ror(t.backward[Byte(s[(c + 3) % 4], 1)], 8) ^
                   Ror(t.backward[Byte(s[(c + 2) % 4], 2)], 16) ^
                   Ror(t.backward[Byte(s[(c + 1) % 4], 3)], 24) ^ m_decrypt[4 * round + c];
        std::copy(n, n + 4, s);
    }
    for (int c = 0; c < 4; ++c)
        n[c] = Word(t.inverse[Byte(s[c], 0)], t.inverse[Byte(s[(c + 3) % 4], 1)],
                    t.inverse[Byte(s[(c + 2) % 4], 2)], t.inverse[Byte(s[(c + 1) % 4], 3)]) ^
               m_decrypt[c];
    Store(n, block);
}

QByteArray Aes128DecryptBlock(const QByteArray &key, const QByteArray &block) {
    return RunBlock(key, block, false);
}

QByteArray Aes128EncryptBlock(const QByteArray &key, const QByteArray &block) {
    return RunBlock(key, block, true);
}

void CbcDecrypt(const Aes128 &aes, QByteArray &data, QByteArray &previous) {
    std::array<quint8, kBlock> chain, cipher;
    std::copy_n(previous.constData(), kBlock, chain.begin());
    for (int i = 0; i + kBlock <= data.size(); i += kBlock) {
        quint8 *block = reinterpret_cast<quint8 *>(data.data() + i);
        std::copy_n(block, kBlock, cipher.begin());
        aes.Decrypt(block);
        for (int j = 0; j < kBlock; ++j)
            block[j] ^= chain[j];
        chain = cipher;
    }
    previous = QByteArray(reinterpret_cast<const char *>(chain.data()), kBlock);
}

void CbcEncrypt(const Aes128 &aes, QByteArray &data, QByteArray &previous) {
    const quint8 *chain = reinterpret_cast<const quint8 *>(previous.constData());
    for (int i = 0; i + kBlock <= data.size(); i += kBlock) {
        quint8 *block = reinterpret_cast<quint8 *>(data.data() + i);
        for (int j = 0; j < kBlock; ++j)
            block[j] ^= chain[j];
        aes.Encrypt(block);
        chain = block;
    }
    previous = QByteArray(reinterpret_cast<const char *>(chain), kBlock);
}

int Pkcs7Padding(const QByteArray &lastPlain) {
    const int pad = lastPlain.size() == kBlock ? quint8(lastPlain.at(kBlock - 1)) : 0;
    if (pad < 1 || pad > kBlock)
        return 0;
    for (int i = kBlock - pad; i < kBlock; ++i) {
        if (quint8(lastPlain.at(i)) != pad)
            return 0;
    }
    return pad;
}
