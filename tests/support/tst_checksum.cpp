#include "support/TextUtils.h"

#include <QTest>

class ChecksumTest : public QObject {
    Q_OBJECT
private slots:
    void crc_matches_known_values_data();
    void crc_matches_known_values();
    void hex_is_eight_upper_case_digits_with_leading_zeros();
    void hex_of_empty_text_is_all_zeros();
};

void ChecksumTest::crc_matches_known_values_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("crc");
    QTest::newRow("check value") << QStringLiteral("123456789") << 0xCBF43926u;
    QTest::newRow("empty") << QString() << 0u;
    QTest::newRow("single letter") << QStringLiteral("a") << 0xE8B7BE43u;
    // Values computed independently over the GB18030 bytes (D6 D0 CE C4 for the first).
    QTest::newRow("chinese") << QStringLiteral("中文") << 0x6682F000u;
    QTest::newRow("address with chinese")
        << QStringLiteral("https://example.com/视频/index.m3u8") << 0x6937315Bu;
}

void ChecksumTest::crc_matches_known_values() {
    QFETCH(QString, text);
    QFETCH(quint32, crc);
    QCOMPARE(Crc32OfText(text), crc);
}

void ChecksumTest::hex_is_eight_upper_case_digits_with_leading_zeros() {
    // CRC-32 of "33" is 0A6216D9 and of "62" 0012D20A.
    QCOMPARE(Crc32Hex(QStringLiteral("33")), QStringLiteral("0A6216D9"));
    QCOMPARE(Crc32Hex(QStringLiteral("62")), QStringLiteral("0012D20A"));
    QCOMPARE(Crc32Hex(QStringLiteral("123456789")), QStringLiteral("CBF43926"));
    QCOMPARE(Crc32Hex(QStringLiteral("中文")), QStringLiteral("6682F000"));
}

void ChecksumTest::hex_of_empty_text_is_all_zeros() {
    QCOMPARE(Crc32Hex(QString()), QStringLiteral("00000000"));
}

QTEST_APPLESS_MAIN(ChecksumTest)
#include "tst_checksum.moc"
