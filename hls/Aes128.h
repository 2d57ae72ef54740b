#pragma once
// AES-128 (FIPS-197): what the done rule checks encrypted segments with, and what a segment
// whose image sat inside the plaintext is encrypted again with.

#include <QByteArray>
#include <QtGlobal>

#include <array>

// One block each way; both arguments 16 bytes, else empty.
QByteArray Aes128DecryptBlock(const QByteArray &key, const QByteArray &block);
QByteArray Aes128EncryptBlock(const QByteArray &key, const QByteArray &block);

class Aes128;
// CBC over the whole blocks of `data`, in place; `previous` (16 bytes: the IV, then the last
// ciphertext block) carries the chain from one call to the next.
void CbcDecrypt(const Aes128 &aes, QByteArray &data, QByteArray &previous);
void CbcEncrypt(const Aes128 &aes, QByteArray &data, QByteArray &previous);
// PKCS#7: n when the last plaintext block ends in n bytes of value n (1 <= n <= 16), else 0.
int Pkcs7Padding(const QByteArray &lastPlain);

// The round keys worked out once, for files of many blocks. Encrypt and Decrypt work on one
// block of 16 bytes in place.
class Aes128 {
public:
    explicit Aes128(const QByteArray &key);  // 16 bytes, else not Valid
    bool Valid() const { return m_valid; }
    void Encrypt(quint8 *block) const;
    void Decrypt(quint8 *block) const;

private:
    // Round keys as column words, and for decryption the same with the inverse column mixing
    // applied to rounds 1 to 9, so that a round is four table look-ups a column either way.
    std::array<quint32, 44> m_encrypt{};
    std::array<quint32, 44> m_decrypt{};
    bool m_valid = false;
};
