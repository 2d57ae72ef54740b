// What the done rule reads from a segment's bytes beyond its container: AES-128 padding, error
// pages, byte-range lengths, images in front of the media; and the key checksums of the resume
// record.

#include "hls/DisguisedSegment.h"
#include "hls/SegmentContent.h"
#include "hls/SegmentRecord.h"
#include "hls/Subtitles.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray kKey = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
// FIPS-197 C.1: this block decrypts under kKey to 00112233445566778899aabbccddeeff.
const QByteArray kCipher = QByteArray::fromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
const QByteArray kPlain = QByteArray::fromHex("00112233445566778899aabbccddeeff");

QByteArray Xor(const QByteArray &a, const QByteArray &b) {
    QByteArray out(a);
    for (int i = 0; i < out.size(); ++i)
        out[i] = char(a.at(i) ^ b.at(i));
    return out;
}

QByteArray TsPackets(int count) {
    QByteArray data;
    for (int i = 0; i < count; ++i)
        data += '\x47' + QByteArray(187, char(i));
    return data;
}

QByteArray Box(const char *type, int payload) {
    QByteArray box(4, '\0');
    const quint32 size = quint32(8 + payload);
    for (int i = 0; i < 4; ++i)
        box[i] = char(size >> (24 - 8 * i));
    return box + type + QByteArray(payload, 'x');
}

QByteArray Id3(int payload) {
    return QByteArray("ID3\x04\x00\x00\x00\x00\x00", 9) + char(payload) + QByteArray(payload, 'i');
}

// The bytes as a segment file in dir; empty when it cannot be written.
QString SegmentFile(const QTemporaryDir &dir, const QByteArray &data) {
    QFile f(dir.filePath("s.ts"));
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() ? f.fileName() : QString();
}

QByteArray Cbc(const QByteArray &plain, const QByteArray &iv) {
    const int pad = 16 - plain.size() % 16;
    QByteArray data = plain + QByteArray(pad, char(pad)), previous = iv;
    const Aes128 aes(kKey);
    for (int i = 0; i < data.size(); i += 16) {
        data.replace(i, 16, Xor(data.mid(i, 16), previous));
        aes.Encrypt(reinterpret_cast<quint8 *>(data.data() + i));
        previous = data.mid(i, 16);
    }
    return data;
}

QByteArray Be(quint32 value, int bytes) {
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out += char(value >> (8 * i));
    return out;
}

QByteArray PngChunk(const char *type, const QByteArray &data, quint32 length) {
    return Be(length, 4) + type + data + QByteArray(4, 'c');
}

QByteArray Png(quint32 dataLength = 30) {
    return QByteArray("\x89PNG\r\n\x1a\n") + PngChunk("IHDR", QByteArray(13, '\1'), 13) +
           PngChunk("IDAT", QByteArray(30, '\x47'), dataLength) + PngChunk("IEND", {}, 0);
}

// Tables, a scan whose data holds a stuffed zero and a restart marker, then the end of image.
QByteArray Jpeg() {
    static const char jpeg[] =
        "\xff\xd8\xff\xe0\x00\x06JFIF\xff\xdb\x00\x05\x01\x02\x03"
        "\xff\xda\x00\x04\x01\x02\x12\xff\x00\x34\xff\xd0\x56\xff\xd9";
    return QByteArray(jpeg, sizeof jpeg - 1);
}

// A global colour table of two entries, an extension, one image of two sub-blocks, the trailer.
QByteArray Gif() {
    return QByteArray("GIF89a\x02\x00\x02\x00\x80\x00\x00", 13) + QByteArray(6, '\xee') +
           QByteArray("\x21\xf9\x04\x01\x02\x03\x04\x00", 8) + "\x2c" + QByteArray(8, '\0') +
           QByteArray(
               "\x00\x02\x02"
               "ab\x01"
               "c\x00\x3b",
               10);
}

// 40 bytes: the file header, a core header of 12 bytes, pixels from 26.
QByteArray Bmp(char size = '\x28') {
    QByteArray bmp = "BM" + QByteArray(12, '\0') + QByteArray(26, 'p');
    bmp.replace(2, 1, &size, 1).replace(10, 1, "\x1a").replace(14, 4, QByteArray("\x0c\0\0\0", 4));
    return bmp;
}

}  // namespace

class TestSegmentContent : public QObject {
    Q_OBJECT

private slots:
    void aes_block_decrypts_as_fips_197_says();
    void done_rule_reads_the_content_data();
    void done_rule_reads_the_content();
    void leading_image_is_cut_off_data();
    void leading_image_is_cut_off();
    void record_keeps_key_checksums_and_reads_old_records();
    void session_lists_the_unfinished_names();
    void subtitle_segment_must_be_webvtt_data();
    void subtitle_segment_must_be_webvtt();
};

void TestSegmentContent::aes_block_decrypts_as_fips_197_says() {
    QCOMPARE(Aes128DecryptBlock(kKey, kCipher).toHex(), kPlain.toHex());
    QCOMPARE(Aes128DecryptBlock(kKey.left(15), kCipher), QByteArray());
    // The head of a file in CBC: each block XORed with the one before, the first with the IV.
    const QByteArray iv = QByteArray::fromHex("0f0e0d0c0b0a09080706050403020100");
    QCOMPARE(DecryptHead(kCipher + kCipher + "cut", kKey, iv).toHex(),
             (Xor(kPlain, iv) + Xor(kPlain, kCipher)).toHex());
    QCOMPARE(Aes128EncryptBlock(kKey, kPlain).toHex(), kCipher.toHex());
}

void TestSegmentContent::done_rule_reads_the_content_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("iv");
    QTest::addColumn<qint64>("minSize");
    QTest::addColumn<int>("expected");
    const int whole = int(SegmentContent::Whole), broken = int(SegmentContent::Broken),
              other = int(SegmentContent::NotJudged);
    const QByteArray fullPad(16, '\x10');
    // A previous block chosen so that the last block ends in one byte of padding, 0x01; it
    // starts with 0x47, and 32 bytes are no TS packet: ciphertext a TS check would misjudge.
    QByteArray lead = Xor(kPlain, QByteArray(15, '\0') + '\x01');
    lead[0] = '\x47';
    const QByteArray none;
    QTest::newRow("aes, one block of padding")
        << kCipher << kKey << Xor(kPlain, fullPad) << 0ll << whole;
    QTest::newRow("aes, starts with 0x47")
        << lead + kCipher << kKey << QByteArray(16, '\0') << 0ll << whole;
    QTest::newRow("aes, bad padding") << kCipher << kKey << QByteArray(16, '\0') << 0ll << broken;
    QTest::newRow("aes, cut mid-block")
        << lead + kCipher.left(9) << kKey << QByteArray(16, '\0') << 0ll << broken;
    QTest::newRow("aes, cut at a block") << lead << kKey << QByteArray(16, '\0') << 0ll << broken;
    QTest::newRow("ts") << TsPackets(3) << none << none << 0ll << whole;
    QTest::newRow("ts cut mid-packet") << TsPackets(3).left(400) << none << none << 0ll << broken;
    QTest::newRow("ts with a lost sync byte")
        << TsPackets(3).replace(188, 1, "x") << none << none << 0ll << broken;
    QTest::newRow("id3 then ts") << Id3(20) + TsPackets(2) << none << none << 0ll << whole;
    QTest::newRow("id3 then cut ts")
        << Id3(20) + TsPackets(2).left(300) << none << none << 0ll << broken;
    QTest::newRow("id3 only") << Id3(20) << none << none << 0ll << broken;
    QTest::newRow("fmp4") << Box("styp", 8) + Box("moof", 40) + Box("mdat", 500) << none << none
                          << 0ll << whole;
    QTest::newRow("fmp4 cut") << (Box("moof", 40) + Box("mdat", 500)).left(300) << none << none
                              << 0ll << broken;
    QTest::newRow("empty") << QByteArray() << none << none << 0ll << broken;
    QTest::newRow("aac is not judged")
        << QByteArray("\xff\xf1\x50\x80 audio", 11) << none << none << 0ll << other;
    QTest::newRow("ts under a key it cannot be checked with")
        << TsPackets(2) + "x" << QByteArray(15, 'k') << QByteArray(16, '\0') << 0ll << other;
    QTest::newRow("html page") << QByteArray("<!DOCTYPE html><html>busy</html>") << none << none
                               << 0ll << broken;
    QTest::newRow("html after blanks, upper case")
        << QByteArray(" \r\n\t<HTML><body>login</body></HTML>") << none << none << 0ll << broken;
    QTest::newRow("xml page") << QByteArray("\n<?xml version=\"1.0\"?><Error/>") << none << none
                              << 0ll << broken;
    QTest::newRow("html page under a key") << QByteArray("<html>").leftJustified(32, ' ') << kKey
                                           << QByteArray(16, '\0') << 0ll << broken;
    QTest::newRow("text that is not markup")
        << QByteArray("  html is not a tag") << none << none << 0ll << other;
    QTest::newRow("byte ranges covered") << TsPackets(3) << none << none << 564ll << whole;
    QTest::newRow("byte ranges beyond the file") << TsPackets(3) << none << none << 565ll << broken;
}

void TestSegmentContent::done_rule_reads_the_content() {
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, iv);
    QFETCH(qint64, minSize);
    QFETCH(int, expected);
    QTemporaryDir dir;
    const QString file = SegmentFile(dir, data);
    QVERIFY(!file.isEmpty());
    SegmentExpectation expect;
    expect.Key = key;
    expect.Iv = iv;
    expect.Opaque = !key.isEmpty() && key.size() != 16;
    expect.MinSize = minSize;
    QCOMPARE(int(CheckSegmentContent(file, expect)), expected);
}

void TestSegmentContent::leading_image_is_cut_off_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("after");
    const QByteArray ts = TsPackets(6), iv(16, '\x07'), none;
    const QByteArray text = QByteArray("not a transport stream ").repeated(60);
    QTest::newRow("png") << Png() + ts << none << ts;
    QTest::newRow("jpeg") << Jpeg() + ts << none << ts;
    QTest::newRow("gif") << Gif() + ts << none << ts;
    QTest::newRow("bmp") << Bmp() + ts << none << ts;
    QTest::newRow("png, padding, ts") << Png() + QByteArray(100, '\0') + ts << none << ts;
    QTest::newRow("png only") << Png() << none << Png();
    QTest::newRow("png then no ts") << Png() + text << none << Png() + text;
    QTest::newRow("png cut before its end") << Png().left(60) + ts << none << Png().left(60) + ts;
    QTest::newRow("png chunk length past the end")
        << Png(0x7ffffff0) + ts << none << Png(0x7ffffff0) + ts;
    QTest::newRow("jpeg cut in its scan") << Jpeg().left(24) + ts << none << Jpeg().left(24) + ts;
    QTest::newRow("bmp size past the end")
        << Bmp('\x7f') + ts.left(40) << none << Bmp('\x7f') + ts.left(40);
    QTest::newRow("png, then ciphertext of ts") << Png() + Cbc(ts, iv) << kKey << Cbc(ts, iv);
    QTest::newRow("png inside the plaintext") << Cbc(Png() + ts, iv) << kKey << Cbc(ts, iv);
    QTest::newRow("png inside the plaintext, no ts")
        << Cbc(Png() + text, iv) << kKey << Cbc(Png() + text, iv);
    QTest::newRow("png, then ciphertext not of a first packet")
        << Png() + Cbc(ts, iv).mid(16) << kKey << Png() + Cbc(ts, iv).mid(16);
}

void TestSegmentContent::leading_image_is_cut_off() {
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString file = SegmentFile(dir, data);
    QVERIFY(!file.isEmpty());
    SegmentExpectation expect;
    expect.Key = key;
    expect.Iv = key.isEmpty() ? QByteArray() : QByteArray(16, '\x07');
    QCOMPARE(StripLeadingImage(file, expect), data != after);
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll().toHex(), after.toHex());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"s.ts"});
}

void TestSegmentContent::record_keeps_key_checksums_and_reads_old_records() {
    QTemporaryDir dir;
    const QString file = dir.filePath("W.resume");
    const SegmentRecord record = {{true, 188, "01.ts", "http://h/a.ts"}};
    const SegmentKeySums keys = {
        {"http://h/k 1.key", QCryptographicHash::hash(kKey, QCryptographicHash::Sha256)},
        {"http://h/k2.key", QCryptographicHash::hash("other", QCryptographicHash::Sha256)}};
    QVERIFY(SaveSegmentRecord(file, record, keys));
    SegmentKeySums loaded;
    QCOMPARE(LoadSegmentRecord(file, &loaded).size(), size_t(1));
    QCOMPARE(loaded, keys);

    // A record from before keys were recorded still resumes a clear stream, with no keys.
    QFile old(file);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("#KORVI-RESUME 1\n1 188 01.ts http://h/a.ts\n");
    old.close();
    QCOMPARE(LoadSegmentRecord(file, &loaded).size(), size_t(1));
    QVERIFY(loaded.isEmpty());

    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("#KORVI-RESUME 2\n#KEY 12ab http://h/k.key\n1 188 01.ts http://h/a.ts\n");
    old.close();
    QCOMPARE(LoadSegmentRecord(file, &loaded).size(), size_t(0));
}

void TestSegmentContent::session_lists_the_unfinished_names() {
    QTemporaryDir dir;
    QFile f(dir.filePath("w.session"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(
        "http://h/a.ts\t\n gid=1\n dir=/t/W\n out=02.ts\n continue=true\n"
        "http://h/b.ts\t\n out=05.ts\n");
    f.close();
    QCOMPARE(UnfinishedInSession(f.fileName()), QStringList({"02.ts", "05.ts"}));
    QCOMPARE(UnfinishedInSession(dir.filePath("none.session")), QStringList());
}

void TestSegmentContent::subtitle_segment_must_be_webvtt_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("whole");
    QTest::newRow("header alone") << QByteArray("WEBVTT") << true;
    QTest::newRow("header and cue")
        << QByteArray("WEBVTT\n\n00:01.000 --> 00:02.000\nHi\n") << true;
    QTest::newRow("byte-order mark, title, CR LF")
        << QByteArray("\xef\xbb\xbfWEBVTT - t\r\n") << true;
    QTest::newRow("another word") << QByteArray("WEBVTTX\n") << false;
    QTest::newRow("error page") << QByteArray("<html>WEBVTT</html>") << false;
    QTest::newRow("a TS segment") << TsPackets(2) << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("over the cap") << QByteArray("WEBVTT\n").leftJustified(WebVttMaxBytes + 1, '\n')
                                  << false;
}

void TestSegmentContent::subtitle_segment_must_be_webvtt() {
    QFETCH(QByteArray, data);
    QFETCH(bool, whole);
    QTemporaryDir dir;
    QFile f(dir.filePath("sub0_1.vtt"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
    f.close();
    SegmentExpectation expect;
    expect.WebVtt = true;
    QCOMPARE(CheckSegmentContent(f.fileName(), expect),
             whole ? SegmentContent::Whole : SegmentContent::Broken);
}

QTEST_GUILESS_MAIN(TestSegmentContent)
#include "tst_segment_content.moc"
