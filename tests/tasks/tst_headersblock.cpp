// The OK normalisation of the request headers wizard, from a table.

#include "tasks/headers/HeadersBlock.h"

#include <QtTest>

class TestHeadersBlock : public QObject {
    Q_OBJECT
private slots:
    void normalise_data();
    void normalise();
    void line_count_data();
    void line_count();
};

void TestHeadersBlock::normalise_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hasLines");
    QTest::addColumn<QString>("block");
    QTest::newRow("empty editor") << "" << false << "";
    QTest::newRow("one header gets its line break")
        << "Referer: http://a/" << true << "Referer: http://a/\r\n";
    QTest::newRow("case-only duplicates leave one")
        << "Cookie: id=1\ncookie: id=1\nCOOKIE: ID=1" << true << "Cookie: id=1\r\n";
    QTest::newRow("equal lines leave one") << "Referer: x\r\nReferer: x\r\n"
                                           << true << "Referer: x\r\n";
    QTest::newRow("three blank lines and two headers sort the blank first")
        << "User-Agent: k\n\n\nCookie: a\n"
        << true << "\r\nCookie: a\r\nUser-Agent: k\r\n";
    QTest::newRow("sorted without regard to case")
        << "referer: r\nAuthorization: t\ncookie: c" << true
        << "Authorization: t\r\ncookie: c\r\nreferer: r\r\n";
    QTest::newRow("a value with line breaks gives several lines")
        << "Cookie: a\nb=1\rc=2" << true << "b=1\r\nc=2\r\nCookie: a\r\n";
    QTest::newRow("lines are not trimmed")
        << " Cookie: a \nCookie: a" << true << " Cookie: a \r\nCookie: a\r\n";
    QTest::newRow("a lone line break is one blank line") << "\n" << true << "\r\n";
}

void TestHeadersBlock::normalise() {
    QFETCH(QString, text);
    QFETCH(bool, hasLines);
    QFETCH(QString, block);
    QString out = QStringLiteral("untouched");
    QCOMPARE(NormaliseHeaders(text, out), hasLines);
    QCOMPARE(out, hasLines ? block : QStringLiteral("untouched"));
}

void TestHeadersBlock::line_count_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("trailing break adds no line") << "a: 1\r\nb: 2\r\n" << 2;
    QTest::newRow("blank line between counts") << "a: 1\n\nb: 2" << 3;
}

void TestHeadersBlock::line_count() {
    QFETCH(QString, text);
    QFETCH(int, count);
    QCOMPARE(HeaderLines(text).size(), count);
}

QTEST_GUILESS_MAIN(TestHeadersBlock)
#include "tst_headersblock.moc"
