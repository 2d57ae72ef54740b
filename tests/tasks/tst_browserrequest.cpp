// Requests copied from a browser's developer tools, read into an address and headers.

#include "tasks/import/BrowserRequest.h"

#include <QtTest>

using R = RequestParse;
Q_DECLARE_METATYPE(RequestParse)

class TestBrowserRequest : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
};

void TestBrowserRequest::parse_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<RequestParse>("result");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QStringList>("headers");  // or, when refused, a word of the problem
    const QString u = QStringLiteral("https://v.example/a/index.m3u8?t=1&s=2");
    QTest::newRow("posix with continuations, drops connection headers")
        << "curl 'https://v.example/a/index.m3u8?t=1&s=2' \\\n  -H 'Accept: */*' \\\n"
           "  -H 'Accept-Encoding: gzip' \\\n  -H 'Range: bytes=0-' \\\n  -H 'Host: v.example' "
           "\\\n  -H 'If-None-Match: \"x\"' \\\n  -H 'Connection: keep-alive' \\\n  --compressed"
        << R::Parsed << u << QStringList{"Accept: */*"};
    QTest::newRow("posix '\\'' quoting and --header")
        << "curl 'https://v.example/a/index.m3u8?t=1&s=2' --header 'X-Name: it'\\''s'" << R::Parsed
        << u << QStringList{"X-Name: it's"};
    QTest::newRow("ansi-c string")
        << "curl $'https://v.example/a/index.m3u8?t=1&s=2' -H $'Cookie: a=\\u0021\\x41\\'b'"
        << R::Parsed << u << QStringList{"Cookie: a=!A'b"};
    QTest::newRow("-b -A -e and -X GET")
        << "curl -X GET -b 'sid=7; k=v' -A 'Moz/5' -e 'https://site/page' "
           "'https://v.example/a/index.m3u8?t=1&s=2'"
        << R::Parsed << u
        << QStringList{"Cookie: sid=7; k=v", "User-Agent: Moz/5", "Referer: https://site/page"};
    QTest::newRow("windows caret form")
        << "curl ^\"https://v.example/a/index.m3u8?t=1^&s=2^\" ^\r\n  -H ^\"sec-ch-ua: "
           "^\\^\"Chromium^\\^\";v=^\\^\"1^\\^\"^\" ^\r\n  -H \"Referer: https://site/\" ^\r\n"
           "  --compressed"
        << R::Parsed << u
        << QStringList{"sec-ch-ua: \"Chromium\";v=\"1\"", "Referer: https://site/"};
    QTest::newRow("--data refused") << "curl 'https://v.example/a/index.m3u8' --data-raw 'a=1'"
                                    << R::Refused << QString() << QStringList{"--data-raw"};
    QTest::newRow("-X POST refused") << "curl -X POST 'https://v.example/x.m3u8'" << R::Refused
                                     << QString() << QStringList{"POST"};
    QTest::newRow("a header smuggling a line refused")
        << "curl 'https://v.example/x.m3u8' -H $'A: 1\\r\\nB: 2'" << R::Refused << QString()
        << QStringList{"请求头"};
    QTest::newRow("shell command refused") << "curl 'https://v.example/x.m3u8'; rm -rf ~"
                                           << R::Refused << QString() << QStringList{";"};
    QTest::newRow("unpaired quote refused")
        << "curl 'https://v.example/x.m3u8" << R::Refused << QString() << QStringList{"引号"};
    QTest::newRow("no address refused")
        << "curl -H 'A: b' 'file:///etc/passwd'" << R::Refused << QString() << QStringList{"地址"};
    QTest::newRow("fetch with referrer and credentials")
        << "fetch(\"https://v.example/a/index.m3u8?t=1&s=2\", {\n  \"headers\": {\n    "
           "\"accept\": \"*/*\",\n    \"accept-encoding\": \"br\",\n    \"cookie\": \"s=1\"\n  "
           "},\n  \"referrer\": \"https://site/p\",\n  \"body\": null,\n  \"method\": \"GET\",\n"
           "  \"credentials\": \"include\"\n});"
        << R::Parsed << u << QStringList{"accept: */*", "cookie: s=1", "Referer: https://site/p"};
    QTest::newRow("fetch omitting credentials sends no cookie")
        << "await fetch(\"https://v.example/a/index.m3u8?t=1&s=2\", {\"headers\": {\"Cookie\": "
           "\"s=1\"}, \"credentials\": \"omit\"});"
        << R::Parsed << u << QStringList{};
    QTest::newRow("fetch with a body refused")
        << "fetch(\"https://v.example/x\", {\"body\": \"a=1\", \"method\": \"POST\"});"
        << R::Refused << QString() << QStringList{"POST"};
    QTest::newRow("broken fetch refused") << "fetch(\"https://v.example/x\", {headers: 1});"
                                          << R::Refused << QString() << QStringList{"fetch"};
    QTest::newRow("plain address") << u << R::NotARequest << QString() << QStringList{};
    QTest::newRow("a word beginning with curl")
        << "curly.m3u8" << R::NotARequest << QString() << QStringList{};
}

void TestBrowserRequest::parse() {
    QFETCH(QString, text);
    QFETCH(RequestParse, result);
    QFETCH(QString, url);
    QFETCH(QStringList, headers);
    BrowserRequest request;
    QString problem;
    QCOMPARE(ParseBrowserRequest(text, request, problem), result);
    QCOMPARE(request.url, url);
    if (result == R::Refused) {
        QVERIFY2(problem.contains(headers.first()), qPrintable(problem));
        QVERIFY(request.headers.isEmpty());
    } else {
        QCOMPARE(request.headers, headers);
        QVERIFY(problem.isEmpty());
    }
    QCOMPARE(LooksLikeBrowserRequest(text), result != R::NotARequest);
}

QTEST_APPLESS_MAIN(TestBrowserRequest)
#include "tst_browserrequest.moc"
