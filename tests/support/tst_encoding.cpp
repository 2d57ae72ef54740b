#include "support/TextUtils.h"

#include <QTest>

class EncodingTest : public QObject {
    Q_OBJECT
private slots:
    void utf8_detection_data();
    void utf8_detection();
    void line_decoding_data();
    void line_decoding();

    void base64_known_values_data();
    void base64_known_values();
    void base64_breaks_lines_after_76_characters();
    void base64_decoder_ignores_line_breaks_and_junk();
    void base64_round_trips_chinese();
    void base64_of_gbk_bytes_decodes_as_gbk();
};

void EncodingTest::utf8_detection_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("utf8");
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("plain ascii") << QByteArray("http://a/b.m3u8") << false;
    QTest::newRow("e acute") << QByteArray("\xC3\xA9") << true;
    QTest::newRow("ascii around e acute") << QByteArray("caf\xC3\xA9 ok") << true;
    QTest::newRow("chinese utf8") << QByteArray("\xE4\xB8\xAD\xE6\x96\x87") << true;
    QTest::newRow("cut three-byte sequence") << QByteArray("ab\xE4\xB8") << false;
    QTest::newRow("gbk lead byte") << QByteArray("\xC4\xE3") << false;
    QTest::newRow("gbk chinese") << QByteArray("\xD6\xD0\xCE\xC4") << false;
    QTest::newRow("lone continuation") << QByteArray("a\x80") << false;
    QTest::newRow("continuation start") << QByteArray("\xBF\x41") << false;
    QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x98\x80") << true;
    QTest::newRow("old five bytes") << QByteArray("\xF8\x88\x80\x80\x80") << true;
    QTest::newRow("old six bytes") << QByteArray("\xFC\x84\x80\x80\x80\x80") << true;
    QTest::newRow("old six bytes cut") << QByteArray("\xFC\x84\x80\x80\x80") << false;
    QTest::newRow("FE takes four more") << QByteArray("\xFE\x80\x80\x80\x80") << true;
    QTest::newRow("ascii after pending") << QByteArray("\xC3\x41") << false;
}

void EncodingTest::utf8_detection() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, utf8);
    QCOMPARE(IsUtf8Text(bytes), utf8);
}

void EncodingTest::line_decoding_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("ascii") << QByteArray("abc 123") << QStringLiteral("abc 123");
    QTest::newRow("utf8") << QByteArray("\xE4\xB8\xAD\xE6\x96\x87") << QStringLiteral("中文");
    QTest::newRow("gbk") << QByteArray("\xD6\xD0\xCE\xC4") << QStringLiteral("中文");
    QTest::newRow("gbk with ascii") << QByteArray("a\xC4\xE3 b") << QStringLiteral("a你 b");
}

void EncodingTest::line_decoding() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(DecodeLine(bytes), text);
}

void EncodingTest::base64_known_values_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("base64");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("one byte") << QStringLiteral("f") << QStringLiteral("Zg==");
    QTest::newRow("two bytes") << QStringLiteral("fo") << QStringLiteral("Zm8=");
    QTest::newRow("three bytes") << QStringLiteral("foo") << QStringLiteral("Zm9v");
    QTest::newRow("header") << QStringLiteral("Referer: http://127.0.0.1/")
                            << QStringLiteral("UmVmZXJlcjogaHR0cDovLzEyNy4wLjAuMS8=");
    QTest::newRow("chinese as utf8")
        << QStringLiteral("中文测试") << QStringLiteral("5Lit5paH5rWL6K+V");
}

void EncodingTest::base64_known_values() {
    QFETCH(QString, text);
    QFETCH(QString, base64);
    QCOMPARE(EncodeBase64(text), base64);
    QCOMPARE(DecodeBase64(base64), text);
}

void EncodingTest::base64_breaks_lines_after_76_characters() {
    // 57 bytes fill exactly one line; 58 need a second one.
    const QString oneLine(57, QLatin1Char('x'));
    QCOMPARE(EncodeBase64(oneLine).size(), 76);
    QVERIFY(!EncodeBase64(oneLine).contains(QLatin1Char('\n')));

    const QString text(200, QLatin1Char('y'));
    const QString encoded = EncodeBase64(text);
    const QStringList lines = encoded.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(0).size(), 76);
    QCOMPARE(lines.at(1).size(), 76);
    QCOMPARE(lines.at(2).size(), 76);
    QCOMPARE(lines.at(3).size(), 4 * ((200 + 2) / 3) - 3 * 76);
    QVERIFY(!encoded.contains(QLatin1Char('\r') + QString(QLatin1Char('\r'))));
    QCOMPARE(QString(encoded).remove(QStringLiteral("\r\n")),
             QString::fromLatin1(text.toUtf8().toBase64()));
    QCOMPARE(DecodeBase64(encoded), text);
}

void EncodingTest::base64_decoder_ignores_line_breaks_and_junk() {
    QCOMPARE(DecodeBase64(QStringLiteral("Zm9v\r\nYmFy")), QStringLiteral("foobar"));
    QCOMPARE(DecodeBase64(QStringLiteral(" Zm9v YmFy \t")), QStringLiteral("foobar"));
    QCOMPARE(DecodeBase64(QStringLiteral("Zm*9v|Y-mF.y中")), QStringLiteral("foobar"));
    QCOMPARE(DecodeBase64(QStringLiteral("5Lit\n5paH\r5rWL\r\n6K+V")), QStringLiteral("中文测试"));
}

void EncodingTest::base64_round_trips_chinese() {
    const QString headers = QStringLiteral(
        "Referer: http://127.0.0.1/视频\r\nCookie: 名字=值; a=b\r\n"
        "User-Agent: 一个很长的用户代理字符串 Mozilla/5.0 (X11)");
    const QString encoded = EncodeBase64(headers);
    QVERIFY(encoded.contains(QStringLiteral("\r\n")));
    QCOMPARE(DecodeBase64(encoded), headers);
    QCOMPARE(DecodeBase64(QString(encoded).remove(QStringLiteral("\r\n"))), headers);
}

void EncodingTest::base64_of_gbk_bytes_decodes_as_gbk() {
    // "中文" in GBK is D6 D0 CE C4, Base64 1tDOxA==.
    QCOMPARE(DecodeBase64(QStringLiteral("1tDOxA==")), QStringLiteral("中文"));
}

QTEST_APPLESS_MAIN(EncodingTest)
#include "tst_encoding.moc"
