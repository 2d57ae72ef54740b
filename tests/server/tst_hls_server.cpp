// The local HLS server does what its options say: tests of the download engine rely on each of
// them to reach a failure on demand, so each one is checked here over a real socket.

#include "HlsTestServer.h"
#include "MediaProbe.h"
#include "TestStreams.h"
#include "TestTools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace TestTools;

namespace {

struct Reply {
    int status = 0;                        // 0: no complete answer
    QMap<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
    bool closed = false;    // the server closed the connection without a complete answer
    bool timedOut = false;  // nothing complete arrived in time, connection still open
};

// Reads one answer from an open connection; HEAD answers carry no body whatever their length.
Reply ReadReply(QTcpSocket &s, bool head, int timeoutMs) {
    Reply r;
    QByteArray buf;
    QElapsedTimer t;
    t.start();
    int headerEnd = -1;
    qint64 length = -1;
    while (true) {
        if (headerEnd < 0) {
            headerEnd = buf.indexOf("\r\n\r\n");
            if (headerEnd >= 0) {
                const QList<QByteArray> lines = buf.left(headerEnd).split('\n');
                const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
                r.status = statusLine.size() > 1 ? statusLine.at(1).toInt() : -1;
                for (int i = 1; i < lines.size(); ++i) {
                    const int colon = lines.at(i).indexOf(':');
                    if (colon > 0)
                        r.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                         lines.at(i).mid(colon + 1).trimmed());
                }
                length = head ? 0 : r.headers.value("content-length", "-1").toLongLong();
            }
        }
        if (headerEnd >= 0 && length >= 0 && buf.size() - headerEnd - 4 >= length) {
            r.body = buf.mid(headerEnd + 4, length);
            return r;
        }
        const int left = timeoutMs - int(t.elapsed());
        if (left <= 0) {
            r.status = 0;
            r.timedOut = true;
            return r;
        }
        if (!s.waitForReadyRead(left)) {
            if (s.state() != QAbstractSocket::ConnectedState) {
                r.status = 0;
                r.closed = true;
                return r;
            }
            continue;
        }
        buf += s.readAll();
    }
}

void SendRequest(QTcpSocket &s, const QByteArray &method, const QByteArray &target,
                 const QList<QByteArray> &headers = {}) {
    QByteArray req = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const QByteArray &h : headers)
        req += h + "\r\n";
    req += "\r\n";
    s.write(req);
    s.waitForBytesWritten(2000);
}

Reply Fetch(quint16 port, const QByteArray &target, const QList<QByteArray> &headers = {},
            const QByteArray &method = "GET", int timeoutMs = 5000) {
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!s.waitForConnected(3000)) {
        Reply r;
        r.closed = true;
        return r;
    }
    SendRequest(s, method, target, headers + QList<QByteArray>{"Connection: close"});
    return ReadReply(s, method == "HEAD", timeoutMs);
}

}  // namespace

class TestHlsServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    // Plain HTTP the download tools rely on.
    void serves_file_bytes_with_length();
    void head_sends_length_without_body();
    void range_requests_data();
    void range_requests();
    void keep_alive_answers_several_requests_on_one_connection();
    void query_is_ignored_when_mapping_to_a_file();
    void missing_file_or_path_outside_root_is_404();
    void base_token_is_replaced_in_playlists_only();
    void log_line_is_written_before_the_answer();

    // Misbehaviour on demand.
    void latency_delays_every_answer();
    void fail_first_fails_each_matching_path_n_times();
    void fail_pattern_chooses_the_failing_paths();
    void fail_mode_drop_closes_without_answer();
    void fail_rate_is_repeatable_by_seed();
    void fail_always_gives_500_every_time();
    void require_header_data();
    void require_header();
    void redirect_sends_302_to_path_or_url();
    void stall_holds_request_unanswered();
    void stall_first_zero_stalls_every_request();

    // Life of the server process.
    void stop_ends_process_and_frees_stalled_connections();
    void max_seconds_ends_server_by_itself();
    void start_fails_for_missing_root();
    void sigterm_ends_server_with_code_0();

    // The download tools working against the server.
    void aria2c_fetches_mixed_lines_and_merge_matches_source();
    void aria2c_run_after_fail_first_fetches_what_is_missing();
    void ffmpeg_fetches_aes_stream_with_root_relative_key();

private:
    QString m_root;
};

void TestHlsServer::initTestCase() {
    m_root = TestStreams::Root();
    QVERIFY2(!m_root.isEmpty(), "test streams could not be made");
    QVERIFY(QFile::exists(m_root + "/clear/index.m3u8"));
}

void TestHlsServer::serves_file_bytes_with_length() {
    HlsTestServer server;
    QVERIFY2(server.start(m_root), qPrintable(server.errorString()));
    const Reply r = Fetch(server.port(), "/clear/seg0.ts");
    QCOMPARE(r.status, 200);
    const QByteArray expected = ReadFile(m_root + "/clear/seg0.ts");
    QVERIFY(!expected.isEmpty());
    QCOMPARE(r.body, expected);
    QCOMPARE(r.headers.value("content-length").toLongLong(), expected.size());
    QCOMPARE(r.headers.value("content-type"), QByteArray("video/mp2t"));
    QCOMPARE(server.requestLog(), QStringList{"GET /clear/seg0.ts 200"});
}

void TestHlsServer::head_sends_length_without_body() {
    HlsTestServer server;
    QVERIFY(server.start(m_root));
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    QVERIFY(s.waitForConnected(3000));
    SendRequest(s, "HEAD", "/clear/index.m3u8");
    const Reply head = ReadReply(s, true, 3000);
    QCOMPARE(head.status, 200);
    QCOMPARE(head.headers.value("content-length").toLongLong(),
             ReadFile(m_root + "/clear/index.m3u8").size());
    // No body went out: the next answer on the same connection starts cleanly.
    SendRequest(s, "GET", "/keys/aes.key");
    const Reply get = ReadReply(s, false, 3000);
    QCOMPARE(get.status, 200);
    QCOMPARE(get.body, ReadFile(m_root + "/keys/aes.key"));
    QCOMPARE(server.countRequests("^/clear/index\\.m3u8$", "HEAD"), 1);
}

void TestHlsServer::range_requests_data() {
    QTest::addColumn<QByteArray>("range");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("from");  // first byte expected, -1 for none
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("contentRange");  // "%1" stands for the file size

    QTest::newRow("first ten") << QByteArray("bytes=0-9") << 206 << 0 << 10
                               << QByteArray("bytes 0-9/%1");
    QTest::newRow("open end") << QByteArray("bytes=100-") << 206 << 100 << -1
                              << QByteArray("bytes 100-%2/%1");
    QTest::newRow("suffix") << QByteArray("bytes=-5") << 206 << -5 << 5
                            << QByteArray("bytes %3-%2/%1");
    QTest::newRow("end past size")
        << QByteArray("bytes=10-99999999") << 206 << 10 << -1 << QByteArray("bytes 10-%2/%1");
    QTest::newRow("start past size")
        << QByteArray("bytes=99999999-") << 416 << -1 << 0 << QByteArray("bytes */%1");
    QTest::newRow("malformed serves all")
        << QByteArray("bytes=x-y") << 200 << 0 << -1 << QByteArray();
}

void TestHlsServer::range_requests() {
    QFETCH(QByteArray, range);
    QFETCH(int, status);
    QFETCH(int, from);
    QFETCH(int, count);
    QFETCH(QByteArray, contentRange);

    HlsTestServer server;
    QVERIFY(server.start(m_root));
    const QByteArray file = ReadFile(m_root + "/clear/seg1.ts");
    const int size = file.size();
    const Reply r = Fetch(server.port(), "/clear/seg1.ts", {"Range: " + range});
    QCOMPARE(r.status, status);
    if (from != -1) {
        const int start = from < 0 ? size + from : from;
        const int n = count < 0 ? size - start : count;
        QCOMPARE(r.body, file.mid(start, n));
        if (contentRange.isEmpty()) {
            QVERIFY(!r.headers.contains("content-range"));
        } else {
            QByteArray expected = contentRange;
            expected.replace("%1", QByteArray::number(size))
                .replace("%2", QByteArray::number(size - 1))
                .replace("%3", QByteArray::number(start));
            QCOMPARE(r.headers.value("content-range"), expected);
        }
    } else {
        QVERIFY(r.body.isEmpty());
        QCOMPARE(r.headers.value("content-range"),
                 QByteArray(contentRange).replace("%1", QByteArray::number(size)));
    }
    QCOMPARE(r.headers.value("content-length").toInt(), r.body.size());
}

void TestHlsServer::keep_alive_answers_several_requests_on_one_connection() {
    HlsTestServer server;
    QVERIFY(server.start(m_root));
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    QVERIFY(s.waitForConnected(3000));
    for (int i = 0; i < 3; ++i) {
        const QByteArray name = "/clear/seg" + QByteArray::number(i) + ".ts";
        SendRequest(s, "GET", name);
        const Reply r = ReadReply(s, false, 3000);
        QCOMPARE(r.status, 200);
        QCOMPARE(r.body, ReadFile(m_root + QString::fromLatin1(name)));
        QCOMPARE(s.state(), QAbstractSocket::ConnectedState);
    }
}

void TestHlsServer::query_is_ignored_when_mapping_to_a_file() {
    HlsTestServer server;
    QVERIFY(server.start(m_root));
    const Reply r = Fetch(server.port(), "/mixed/seg3.ts?token=abc&x=1");
    QCOMPARE(r.status, 200);
    QCOMPARE(r.body, ReadFile(m_root + "/mixed/seg3.ts"));
    // The log keeps the query, counting goes by the path alone.
    QCOMPARE(server.requestLog(), QStringList{"GET /mixed/seg3.ts?token=abc&x=1 200"});
    QCOMPARE(server.countRequests("^/mixed/seg3\\.ts$"), 1);
}

void TestHlsServer::missing_file_or_path_outside_root_is_404() {
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    QVERIFY(WriteFile(outside.filePath("served/a.ts"), "inside"));
    QVERIFY(WriteFile(outside.filePath("secret.txt"), "outside"));
    HlsTestServer server;
    QVERIFY(server.start(outside.filePath("served")));
    QCOMPARE(Fetch(server.port(), "/a.ts").status, 200);
    QCOMPARE(Fetch(server.port(), "/nope.ts").status, 404);
    QCOMPARE(Fetch(server.port(), "/../secret.txt").status, 404);
    QCOMPARE(Fetch(server.port(), "/%2e%2e/secret.txt").status, 404);
    QCOMPARE(Fetch(server.port(), "/").status, 404);
}

void TestHlsServer::base_token_is_replaced_in_playlists_only() {
    QTemporaryDir dir;
    QVERIFY(WriteFile(dir.filePath("p/list.m3u8"), "#EXTM3U\n@BASE@/p/a.ts\n@BASE@/p/b.ts\n"));
    QVERIFY(WriteFile(dir.filePath("p/a.ts"), "raw @BASE@ bytes"));
    HlsTestServer server;
    QVERIFY(server.start(dir.path()));
    const QByteArray base = server.baseUrl().toLatin1();
    QVERIFY(base.startsWith("http://127.0.0.1:"));

    const Reply list = Fetch(server.port(), "/p/list.m3u8");
    QCOMPARE(list.status, 200);
    QCOMPARE(list.body, "#EXTM3U\n" + base + "/p/a.ts\n" + base + "/p/b.ts\n");
    QCOMPARE(list.headers.value("content-length").toInt(), list.body.size());
    QCOMPARE(Fetch(server.port(), "/p/a.ts").body, QByteArray("raw @BASE@ bytes"));

    // The test stream that carries an absolute line gets this run's port.
    HlsTestServer streams;
    QVERIFY(streams.start(m_root));
    const QByteArray body = Fetch(streams.port(), "/mixed/index.m3u8").body;
    QVERIFY(body.contains("\n" + streams.baseUrl().toLatin1() + "/mixed/seg2.ts"));
    QVERIFY(!body.contains("@BASE@"));

    HlsServerOptions other;
    other.extraArgs = {"--base-token", "/p/a.ts"};
    HlsTestServer custom;
    QVERIFY(custom.start(dir.path(), other));
    QCOMPARE(Fetch(custom.port(), "/p/list.m3u8").body,
             "#EXTM3U\n@BASE@" + custom.baseUrl().toLatin1() + "\n@BASE@/p/b.ts\n");

    HlsServerOptions off;
    off.extraArgs = {"--no-base-token"};
    HlsTestServer plain;
    QVERIFY(plain.start(dir.path(), off));
    QCOMPARE(Fetch(plain.port(), "/p/list.m3u8").body, ReadFile(dir.filePath("p/list.m3u8")));
}

void TestHlsServer::log_line_is_written_before_the_answer() {
    HlsTestServer server;
    QVERIFY(server.start(m_root, [] {
        HlsServerOptions o;
        o.failAlways = "^/keys/";
        return o;
    }()));
    // Read straight after each answer: a test never has to wait for the log to catch up.
    for (int i = 1; i <= 5; ++i) {
        QCOMPARE(Fetch(server.port(), "/keys/aes.key").status, 500);
        QCOMPARE(server.countRequests("^/keys/aes\\.key$"), i);
    }
    QCOMPARE(server.requestLog().last(), QString("GET /keys/aes.key 500"));
}

void TestHlsServer::latency_delays_every_answer() {
    HlsServerOptions o;
    o.latencyMs = 300;
    HlsTestServer server;
    QVERIFY(server.start(m_root, o));
    for (const QByteArray &target : {QByteArray("/clear/index.m3u8"), QByteArray("/nope")}) {
        QElapsedTimer t;
        t.start();
        const Reply r = Fetch(server.port(), target);
        QVERIFY(r.status == 200 || r.status == 404);
        QVERIFY2(t.elapsed() >= 290, qPrintable(QString::number(t.elapsed())));
    }
}

void TestHlsServer::fail_first_fails_each_matching_path_n_times() {
    HlsServerOptions o;
    o.failFirst = 2;
    HlsTestServer server;
    QVERIFY(server.start(m_root, o));
    for (const QByteArray &seg : {QByteArray("/clear/seg0.ts"), QByteArray("/clear/seg1.ts")}) {
        QCOMPARE(Fetch(server.port(), seg).status, 500);
        QCOMPARE(Fetch(server.port(), seg).status, 500);
        QCOMPARE(Fetch(server.port(), seg).status, 200);
        QCOMPARE(Fetch(server.port(), seg).status, 200);
    }
    // A query does not make a new path, and playlists are not matched by default.
    QCOMPARE(Fetch(server.port(), "/clear/seg2.ts?a=1").status, 500);
    QCOMPARE(Fetch(server.port(), "/clear/seg2.ts?a=2").status, 500);
    QCOMPARE(Fetch(server.port(), "/clear/seg2.ts?a=3").status, 200);
    QCOMPARE(Fetch(server.port(), "/clear/index.m3u8").status, 200);
    QCOMPARE(server.countRequests("\\.ts$"), 11);
}

void TestHlsServer::fail_pattern_chooses_the_failing_paths() {
    HlsServerOptions o;
    o.failFirst = 1;
    o.failPattern = "\\.m3u8$";
    HlsTestServer server;
    QVERIFY(server.start(m_root, o));
    QCOMPARE(Fetch(server.port(), "/clear/seg0.ts").status, 200);
    QCOMPARE(Fetch(server.port(), "/clear/index.m3u8").status, 500);
    QCOMPARE(Fetch(server.port(), "/clear/index.m3u8").status, 200);
}

void TestHlsServer::fail_mode_drop_closes_without_answer() {
    HlsServerOptions o;
    o.failFirst = 1;
    o.failMode = "drop";
    HlsTestServer server;
    QVERIFY(server.start(m_root, o));
    const Reply dropped = Fetch(server.port(), "/clear/seg0.ts");
    QCOMPARE(dropped.status, 0);
    QVERIFY(dropped.closed);
    QCOMPARE(Fetch(server.port(), "/clear/seg0.ts").status, 200);
    QCOMPARE(server.requestLog(),
             (QStringList{"GET /clear/seg0.ts drop", "GET /clear/seg0.ts 200"}));
}

void TestHlsServer::fail_rate_is_repeatable_by_seed() {
    // Outcome of 5 attempts at each of the 6 segments, as one string of 'x' and '.'.
    auto pattern = [this](double rate, int seed) {
        HlsServerOptions o;
        o.failRate = rate;
        o.seed = seed;
        HlsTestServer server;
        if (!server.start(m_root, o))
            return QString();
        QString p;
        for (int attempt = 0; attempt < 5; ++attempt) {
            for (int i = 0; i < TestStreams::SegmentCount; ++i) {
                const int s =
                    Fetch(server.port(), "/clear/seg" + QByteArray::number(i) + ".ts").status;
                p += s == 500 ? 'x' : s == 200 ? '.' : '?';
            }
        }
        return p;
    };
    const QString a = pattern(0.5, 7);
    QCOMPARE(a.size(), 30);
    QCOMPARE(pattern(0.5, 7), a);
    QVERIFY2(a.contains('x') && a.contains('.'), qPrintable(a));
    QVERIFY(!a.contains('?'));
    QVERIFY(pattern(0.5, 8) != a);
    QCOMPARE(pattern(1.0, 7), QString(30, 'x'));
    QCOMPARE(pattern(0.0, 7), QString(30, '.'));
}

void TestHlsServer::fail_always_gives_500_every_time() {
    HlsServerOptions o;
    o.failAlways = "seg3\\.ts$";
    HlsTestServer server;
    QVERIFY(server.start(m_root, o));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(Fetch(server.port(), "/clear/seg3.ts").status, 500);
    QCOMPARE(Fetch(server.port(), "/clear/seg4.ts").status, 200);
}

void TestHlsServer::require_header_data() {
    QTest::addColumn<QList<QByteArray>>("headers");
    QTest::addColumn<int>("status");
    QTest::newRow("missing") << QList<QByteArray>{} << 403;
    QTest::newRow("wrong value") << QList<QByteArray>{"X-Token: secreT"} << 403;
    QTest::newRow("value with more") << QList<QByteArray>{"X-Token: secret2"} << 403;
    QTest::newRow("exact") << QList<QByteArray>{"X-Token: secret"} << 200;
    QTest::newRow("name in other case") << QList<QByteArray>{"x-token: secret"} << 200;
    QTest::newRow("among others") << QList<QByteArray>{"Referer: http://127.0.0.1/",
                                                       "X-Token: secret"}
                                  << 200;
}

void TestHlsServer::require_header() {
    QFETCH(QList<QByteArray>, headers);
    QFETCH(int, status);
    HlsServerOptions o;
    o.requireHeader = "X-Token: secret";
    HlsTestServer server;
    QVERIFY(server.start(m_root, o));
    QCOMPARE(Fetch(server.port(), "/clear/index.m3u8", headers).status, status);
    QCOMPARE(Fetch(server.port(), "/clear/seg0.ts", headers, "HEAD").status, status);
}

void TestHlsServer::redirect_sends_302_to_path_or_url() {
    HlsServerOptions o;
    o.redirects = {{"/moved.m3u8", "/clear/index.m3u8"},
                   {"/away.m3u8", "http://127.0.0.1:1/elsewhere.m3u8"}};
    HlsTestServer server;
    QVERIFY(server.start(m_root, o));
    const Reply moved = Fetch(server.port(), "/moved.m3u8?x=1");
    QCOMPARE(moved.status, 302);
    const QByteArray location = moved.headers.value("location");
    QCOMPARE(location, server.url("/clear/index.m3u8").toLatin1());
    const Reply followed = Fetch(server.port(), location.mid(server.baseUrl().size()));
    QCOMPARE(followed.status, 200);
    QCOMPARE(followed.body, ReadFile(m_root + "/clear/index.m3u8"));

    const Reply away = Fetch(server.port(), "/away.m3u8");
    QCOMPARE(away.status, 302);
    QCOMPARE(away.headers.value("location"), QByteArray("http://127.0.0.1:1/elsewhere.m3u8"));
    QCOMPARE(server.requestLog().first(), QString("GET /moved.m3u8?x=1 302"));
}

void TestHlsServer::stall_holds_request_unanswered() {
    HlsServerOptions o;
    o.stallPattern = "seg1\\.ts$";
    o.stallFirst = 1;
    HlsTestServer server;
    QVERIFY(server.start(m_root, o));

    QTcpSocket held;
    held.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    QVERIFY(held.waitForConnected(3000));
    SendRequest(held, "GET", "/clear/seg1.ts");
    const Reply stalled = ReadReply(held, false, 1500);
    QCOMPARE(stalled.status, 0);
    QVERIFY(stalled.timedOut);
    QCOMPARE(held.state(), QAbstractSocket::ConnectedState);

    // Only the first request of the path stalls; others are served meanwhile.
    QCOMPARE(Fetch(server.port(), "/clear/seg1.ts").status, 200);
    QCOMPARE(Fetch(server.port(), "/clear/seg0.ts").status, 200);
    QCOMPARE(server.requestLog().first(), QString("GET /clear/seg1.ts stall"));
}

void TestHlsServer::stall_first_zero_stalls_every_request() {
    HlsServerOptions o;
    o.stallPattern = "index\\.m3u8$";
    HlsTestServer server;
    QVERIFY(server.start(m_root, o));
    for (int i = 0; i < 3; ++i) {
        const Reply r = Fetch(server.port(), "/clear/index.m3u8", {}, "GET", 700);
        QVERIFY(r.timedOut);
    }
    QCOMPARE(server.countRequests("index\\.m3u8$"), 3);
}

void TestHlsServer::stop_ends_process_and_frees_stalled_connections() {
    HlsServerOptions o;
    o.stallPattern = ".";
    HlsTestServer server;
    QVERIFY(server.start(m_root, o));
    QVERIFY(server.isRunning());
    const quint16 port = server.port();

    QTcpSocket held;
    held.connectToHost(QStringLiteral("127.0.0.1"), port);
    QVERIFY(held.waitForConnected(3000));
    SendRequest(held, "GET", "/clear/seg0.ts");
    QVERIFY(ReadReply(held, false, 500).timedOut);

    QElapsedTimer t;
    t.start();
    server.stop();
    QVERIFY(!server.isRunning());
    // SIGTERM was enough: no wait for the kill that follows a refusal.
    QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
    QVERIFY(ReadReply(held, false, 3000).closed);

    QTcpSocket again;
    again.connectToHost(QStringLiteral("127.0.0.1"), port);
    QVERIFY(!again.waitForConnected(1000));
    // The log stays readable after the stop.
    QCOMPARE(server.requestLog(), QStringList{"GET /clear/seg0.ts stall"});
}

void TestHlsServer::max_seconds_ends_server_by_itself() {
    HlsServerOptions o;
    o.maxSeconds = 1;
    HlsTestServer server;
    QVERIFY(server.start(m_root, o));
    QCOMPARE(Fetch(server.port(), "/clear/index.m3u8").status, 200);
    QTRY_VERIFY_WITH_TIMEOUT(!server.isRunning(), 8000);
}

void TestHlsServer::start_fails_for_missing_root() {
    HlsTestServer server;
    QVERIFY(!server.start(m_root + "/no-such-folder"));
    QVERIFY(!server.isRunning());
    QVERIFY(!server.errorString().isEmpty());
}

void TestHlsServer::sigterm_ends_server_with_code_0() {
    QTemporaryDir run;
    const QString portFile = run.filePath("port");
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start("/usr/bin/python3", {HlsTestServer::ScriptPath(), "--root", m_root, "--port-file",
                                      portFile, "--max-seconds", "60"});
    QVERIFY(server.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(portFile), 10000);
    const QByteArray port = ReadFile(portFile).trimmed();
    QVERIFY(port.toUInt() > 0);
    // Written whole, by rename: no temporary file is left beside it.
    QCOMPARE(QDir(run.path()).entryList(QDir::Files), QStringList{"port"});
    QCOMPARE(Fetch(quint16(port.toUInt()), "/clear/index.m3u8").status, 200);

    server.terminate();
    QVERIFY(server.waitForFinished(5000));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
}

void TestHlsServer::aria2c_fetches_mixed_lines_and_merge_matches_source() {
    if (QStandardPaths::findExecutable("aria2c").isEmpty())
        QSKIP("aria2c is not installed");
    HlsTestServer server;
    QVERIFY(server.start(m_root));
    const Reply playlist = Fetch(server.port(), "/mixed/index.m3u8");
    QCOMPARE(playlist.status, 200);

    // Resolve every kind of line the way a downloader must, list them for aria2c, and write a
    // local playlist with local names for the merge.
    QTemporaryDir work;
    QByteArray list, local;
    int n = 0;
    for (QByteArray line : playlist.body.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith('#')) {
            local += line + '\n';
            continue;
        }
        QByteArray url = line;
        if (line.startsWith('/'))
            url = server.baseUrl().toLatin1() + line;
        else if (!line.startsWith("http://"))
            url = server.url("/mixed/").toLatin1() + line;
        const QByteArray name = QByteArray::number(++n) + ".ts";
        list += url + "\n out=" + name + "\n";
        local += name + '\n';
    }
    QCOMPARE(n, TestStreams::SegmentCount);
    QVERIFY(WriteFile(work.filePath("list.txt"), list));
    QVERIFY(WriteFile(work.filePath("index.m3u8"), local));
    QVERIFY(RunTool("aria2c", {"-q", "-c", "-i", work.filePath("list.txt"), "-d", work.path()}));

    for (const char *path :
         {"^/mixed/seg0\\.ts$", "^/mixed/seg1\\.ts$", "^/mixed/seg2\\.ts$", "^/mixed/seg3\\.ts$"})
        QCOMPARE(server.countRequests(path, "GET"), 1);
    QVERIFY(server.requestLog().contains("GET /mixed/seg3.ts?token=abc&x=1 200"));

    const QString mp4 = work.filePath("out.mp4");
    QVERIFY(RunTool("ffmpeg", {"-nostdin", "-v", "error", "-allowed_extensions", "ALL", "-y", "-i",
                               work.filePath("index.m3u8"), "-c", "copy", mp4}));
    QCOMPARE(MediaProbe::VideoFrameMd5(mp4), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
    QVERIFY(MediaProbe::HasAudio(mp4));
}

void TestHlsServer::aria2c_run_after_fail_first_fetches_what_is_missing() {
    // aria2c gives a URL up after a 500 within its run: the first run ends with segments
    // missing and a second run over the same list completes them.
    if (QStandardPaths::findExecutable("aria2c").isEmpty())
        QSKIP("aria2c is not installed");
    HlsServerOptions o;
    o.failFirst = 1;
    o.failPattern = "seg[24]\\.ts$";
    HlsTestServer server;
    QVERIFY(server.start(m_root, o));
    QTemporaryDir work;
    QByteArray list;
    for (int i = 0; i < TestStreams::SegmentCount; ++i)
        list += server.url(QString("/clear/seg%1.ts").arg(i)).toLatin1() +
                "\n out=" + QByteArray::number(i) + ".ts\n";
    QVERIFY(WriteFile(work.filePath("list.txt"), list));
    const QStringList args{"-q", "-c", "-i", work.filePath("list.txt"), "-d", work.path()};

    QVERIFY(!RunTool("aria2c", args));
    QVERIFY(QFile::exists(work.filePath("0.ts")));
    QVERIFY(!QFile::exists(work.filePath("2.ts")));
    QVERIFY(!QFile::exists(work.filePath("4.ts")));

    QVERIFY(RunTool("aria2c", args));
    for (int i = 0; i < TestStreams::SegmentCount; ++i)
        QCOMPARE(ReadFile(work.filePath(QString("%1.ts").arg(i))),
                 ReadFile(m_root + QString("/clear/seg%1.ts").arg(i)));
    QCOMPARE(server.countRequests("seg2\\.ts$", "GET"), 2);
}

void TestHlsServer::ffmpeg_fetches_aes_stream_with_root_relative_key() {
    HlsTestServer server;
    QVERIFY(server.start(m_root));
    QTemporaryDir out;
    const QString mp4 = out.filePath("aes.mp4");
    QVERIFY(RunTool("ffmpeg", {"-nostdin", "-v", "error", "-y", "-i", server.url("/aes/index.m3u8"),
                               "-c", "copy", mp4}));
    QCOMPARE(server.countRequests("^/keys/aes\\.key$", "GET"), 1);
    QCOMPARE(MediaProbe::VideoFrameMd5(mp4), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
}

QTEST_GUILESS_MAIN(TestHlsServer)
#include "tst_hls_server.moc"
