// Fetching one file: libcurl (DownloadFile) and aria2c (Aria2DownloadFile), against the local
// test server and, for the argument corners, a fake aria2c that records its argv.

#include "EngineFixture.h"
#include "HlsTestServer.h"
#include "TestStreams.h"
#include "app/config/Settings.h"
#include "hls/M3u8Helpers.h"
#include "hls/UrlFetcher.h"
#include "support/ExternalTools.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace EngineFixture;

namespace {

QByteArray ReadAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Records its arguments one per line, its input list and the list's mode, then writes the file
// the list names in the folder -d names; with FAKE_CONTROL set it also leaves a control file, as
// an unfinished aria2c run does.
const char kFakeAria2[] = R"(#!/bin/sh
: > "$FAKE_ARGV"
dir=; list=; prev=
for a in "$@"; do
    printf '%s\n' "$a" >> "$FAKE_ARGV"
    case "$prev" in -d) dir=$a ;; -i) list=$a ;; esac
    prev=$a
done
cp "$list" "$FAKE_ARGV.lst"
stat -c %a "$list" > "$FAKE_ARGV.mode"
name=$(sed -n 's/^ out=//p' "$list")
printf 'partial' > "$dir/$name"
if [ -n "$FAKE_CONTROL" ]; then printf 'x' > "$dir/$name.aria2"; fi
exit 0
)";

}  // namespace

class TestDownloadFile : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void fetches_a_file_whole();
    void http_error_fails_and_keeps_the_old_file();
    void follows_a_redirect();
    void refuses_a_redirect_to_a_local_file();
    void refuses_addresses_that_are_not_network_urls_data();
    void refuses_addresses_that_are_not_network_urls();
    void sends_blanks_percent_encoded();
    void upper_case_https_falls_back_to_http();
    void silent_server_times_out();
    void events_keep_running_during_a_fetch();
    void request_sends_the_headers_and_reports_where_a_redirect_led();
    void bounded_fetches_end_in_time_and_leave_nothing_data();
    void bounded_fetches_end_in_time_and_leave_nothing();
    void proxy_credentials_with_reserved_characters_arrive_whole_data();
    void proxy_credentials_with_reserved_characters_arrive_whole();

    void aria2_fetch_sends_the_headers();
    void aria2_fetch_with_control_file_left_fails();
    void aria2_arguments_keep_quotes_and_blanks_whole();
    void aria2_is_not_started_for_an_option_line();

private:
    void UseFakeAria2();

    QTemporaryDir m_base;
    QString m_root;
    HlsTestServer m_endless;
    HlsTestServer m_trickle;
    QString m_fakeDir;
    HlsTestServer m_server;
};

void TestDownloadFile::initTestCase() {
    QVERIFY(m_base.isValid());
    IsolateEnvironment(m_base.path());
    QVERIFY2(!TestStreams::Root().isEmpty(), "test streams were not generated");
    m_root = m_base.filePath("www");
    QVERIFY(CopyTree(TestStreams::Root(), m_root));
    QVERIFY(WriteFile(m_root + "/with space/a b.txt", "blank name"));
    m_fakeDir = m_base.filePath("fake");
    QVERIFY(WriteScript(m_fakeDir + "/aria2c", kFakeAria2));
    HlsServerOptions options;
    options.redirects = {{"/moved.m3u8", "/clear/index.m3u8"},
                         {"/to-file.m3u8", "file:///etc/hostname"}};
    options.stallPattern = "^/stall/";
    options.maxSeconds = 120;
    QVERIFY2(m_server.start(m_root, options), qPrintable(m_server.errorString()));
    // Endless answers: fast ones fill any cap at once, slow ones trickle below every speed limit.
    HlsServerOptions endless;
    endless.stallPattern = "^/stall/";
    endless.maxSeconds = 120;
    endless.extraArgs = {"--endless", "^/(fast|slow)/",        "--endless-chunk",
                         "65536",     "--endless-interval-ms", "0"};
    QVERIFY(m_endless.start(m_root, endless));
    endless.extraArgs = {"--endless", "^/slow/"};  // a byte a second
    QVERIFY(m_trickle.start(m_root, endless));
}

void TestDownloadFile::cleanup() {
    ExternalTools::Instance().Reset();
    UrlFetcher::SetTimeouts(20, 30);
    UrlFetcher::SetDeadlineMs(60000);
    ProxyEnabled = false;
    ProxyString.clear();
    qunsetenv("FAKE_CONTROL");
}

void TestDownloadFile::UseFakeAria2() {
    ExternalTools::Instance().SetProgramDir(m_fakeDir);
    qputenv("FAKE_ARGV", m_base.filePath("argv.txt").toUtf8());
}

void TestDownloadFile::fetches_a_file_whole() {
    const QString target = m_base.filePath("index.m3u8");
    QVERIFY(DownloadFile(m_server.url("/clear/index.m3u8"), target));
    QCOMPARE(ReadAll(target), ReadAll(m_root + "/clear/index.m3u8"));
    QVERIFY(IsM3u8File(target));
}

void TestDownloadFile::http_error_fails_and_keeps_the_old_file() {
    const QString target = m_base.filePath("old.txt");
    QVERIFY(WriteFile(target, "old content"));
    const int before = m_server.countRequests("^/missing\\.m3u8$");
    QVERIFY(!DownloadFile(m_server.url("/missing.m3u8"), target));
    QCOMPARE(ReadAll(target), QByteArray("old content"));
    QCOMPARE(m_server.countRequests("^/missing\\.m3u8$") - before, DownloadRetries);
    QCOMPARE(Entries(m_base.path()).filter("old.txt"), QStringList{"old.txt"});
}

void TestDownloadFile::follows_a_redirect() {
    const QString target = m_base.filePath("moved.m3u8");
    QVERIFY(DownloadFile(m_server.url("/moved.m3u8"), target));
    QCOMPARE(ReadAll(target), ReadAll(m_root + "/clear/index.m3u8"));
}

void TestDownloadFile::refuses_a_redirect_to_a_local_file() {
    const QString target = m_base.filePath("to-file.txt");
    QVERIFY(!DownloadFile(m_server.url("/to-file.m3u8"), target));
    QVERIFY(!QFile::exists(target));
}

void TestDownloadFile::refuses_addresses_that_are_not_network_urls_data() {
    QTest::addColumn<QString>("address");
    QTest::newRow("file scheme") << "file:///etc/hostname";
    QTest::newRow("option in front") << "--output=/tmp/x @SERVER@/clear/index.m3u8";
    QTest::newRow("local path holding an address") << "/etc/@SERVER@/clear/index.m3u8";
    QTest::newRow("line feed inside") << "@SERVER@/clear/index.m3u8\nx";
}

void TestDownloadFile::refuses_addresses_that_are_not_network_urls() {
    QFETCH(QString, address);
    address.replace("@SERVER@", m_server.baseUrl());
    const int before = m_server.requestLog().size();
    const QString target = m_base.filePath("refused.txt");
    QVERIFY(!DownloadFile(address, target));
    QVERIFY(!QFile::exists(target));
    QCOMPARE(m_server.requestLog().size(), before);
}

void TestDownloadFile::sends_blanks_percent_encoded() {
    const QString target = m_base.filePath("blank.txt");
    QVERIFY(DownloadFile(m_server.baseUrl() + "/with space/a b.txt", target));
    QCOMPARE(ReadAll(target), QByteArray("blank name"));
    QVERIFY(m_server.requestLog().filter("/with%20space/a%20b.txt").size() == 1);
}

void TestDownloadFile::upper_case_https_falls_back_to_http() {
    // The server speaks plain HTTP, so every TLS attempt fails and the fallback must take over.
    const QString address =
        QStringLiteral("HTTPS://127.0.0.1:%1/clear/index.m3u8").arg(m_server.port());
    const QString target = m_base.filePath("fallback.m3u8");
    const int before = m_server.countRequests("^/clear/index\\.m3u8$", "GET");
    QVERIFY(DownloadFile(address, target));
    QCOMPARE(ReadAll(target), ReadAll(m_root + "/clear/index.m3u8"));
    QCOMPARE(m_server.countRequests("^/clear/index\\.m3u8$", "GET") - before, 1);
}

void TestDownloadFile::silent_server_times_out() {
    UrlFetcher::SetTimeouts(2, 1);
    QElapsedTimer clock;
    clock.start();
    const QString target = m_base.filePath("stalled.txt");
    QVERIFY(!UrlFetcher::Fetch(m_server.url("/stall/a.ts"), target));
    QVERIFY(!QFile::exists(target));
    QVERIFY2(clock.elapsed() < 15000, "a silent server must not hold a fetch");
}

void TestDownloadFile::events_keep_running_during_a_fetch() {
    HlsTestServer slow;
    HlsServerOptions options;
    options.latencyMs = 600;
    options.maxSeconds = 60;
    QVERIFY(slow.start(m_root, options));
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(20);
    QVERIFY(DownloadFile(slow.url("/clear/index.m3u8"), m_base.filePath("slow.m3u8")));
    timer.stop();
    // 600 ms at a 20 ms timer: a pump that blocked would give one or two ticks.
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    slow.stop();
}

void TestDownloadFile::request_sends_the_headers_and_reports_where_a_redirect_led() {
    HlsTestServer guarded;
    HlsServerOptions options;
    options.requireHeader = "X-Token: secret value";
    options.redirects = {{"/moved.m3u8", "/clear/index.m3u8"}};
    options.maxSeconds = 60;
    QVERIFY(guarded.start(m_root, options));
    const QString target = m_base.filePath("redirected.m3u8");
    QString finalUrl;
    FetchRequest request{"Referer: http://127.0.0.1/\r\nX-Token: secret value", PlaylistMaxBytes,
                         nullptr, &finalUrl};
    QVERIFY(DownloadFile(guarded.url("/moved.m3u8"), target, request));
    QCOMPARE(finalUrl, guarded.url("/clear/index.m3u8"));
    QCOMPARE(ReadAll(target), ReadAll(m_root + "/clear/index.m3u8"));
    // libcurl, not the aria2c fall-back, brought it.
    QCOMPARE(guarded.countRequests("^/moved\\.m3u8$"), 1);
    guarded.stop();
}

void TestDownloadFile::bounded_fetches_end_in_time_and_leave_nothing_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("aria2");
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<int>("cancelAfterMs");
    QTest::newRow("endless playlist") << "/fast/index.m3u8" << false << PlaylistMaxBytes << 0;
    QTest::newRow("endless key") << "/fast/aes.key" << false << KeyMaxBytes << 0;
    QTest::newRow("trickling key") << "/slow/aes.key" << false << KeyMaxBytes << 0;
    QTest::newRow("stopped") << "/stall/index.m3u8" << false << PlaylistMaxBytes << 300;
    QTest::newRow("aria2c: endless playlist")
        << "/fast/index.m3u8" << true << PlaylistMaxBytes << 0;
    QTest::newRow("aria2c: endless key") << "/fast/aes.key" << true << KeyMaxBytes << 0;
    QTest::newRow("aria2c: trickling playlist")
        << "/slow/index.m3u8" << true << PlaylistMaxBytes << 0;
    QTest::newRow("aria2c: stopped") << "/stall/aes.key" << true << KeyMaxBytes << 300;
}

void TestDownloadFile::bounded_fetches_end_in_time_and_leave_nothing() {
    QFETCH(QString, path);
    QFETCH(bool, aria2);
    QFETCH(qint64, maxBytes);
    QFETCH(int, cancelAfterMs);
    const QString url = (path.startsWith("/slow/") ? m_trickle : m_endless).url(path);
    const QString dir = m_base.filePath("bounded");
    QVERIFY(QDir().mkpath(dir));
    const QString target = dir + "/answer";
    UrlFetcher::SetDeadlineMs(3000);
    bool cancel = false;
    QTimer stop;
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, [&cancel] { cancel = true; });
    if (cancelAfterMs > 0)
        stop.start(cancelAfterMs);
    // What the answer takes on disk while it comes: never much past the cap.
    qint64 peak = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        qint64 used = 0;
        for (const QFileInfo &file : QDir(dir).entryInfoList(QDir::Files | QDir::Hidden))
            used += file.size();
        peak = qMax(peak, used);
    });
    sampler.start(5);
    const FetchRequest request{QString(), maxBytes, &cancel, nullptr};
    QElapsedTimer clock;
    clock.start();
    const bool fetched =
        aria2 ? Aria2DownloadFile(url, target, request) : DownloadFile(url, target, request);
    const qint64 elapsed = clock.elapsed();
    QVERIFY(!fetched);
    QVERIFY2(elapsed < (cancelAfterMs > 0 ? 3000 : 8000), qPrintable(QString::number(elapsed)));
    QCOMPARE(Entries(dir), QStringList());
    // aria2c is ended by a poll of its file, so what a fast server sends between two polls on a
    // busy machine counts too; an endless answer would grow without bound.
    QVERIFY2(peak <= maxBytes + 64 * 1024 * 1024, qPrintable(QString::number(peak)));
}

void TestDownloadFile::proxy_credentials_with_reserved_characters_arrive_whole_data() {
    QTest::addColumn<bool>("aria2");
    QTest::newRow("libcurl") << false;
    QTest::newRow("aria2c") << true;
}

void TestDownloadFile::proxy_credentials_with_reserved_characters_arrive_whole() {
    QFETCH(bool, aria2);
    // The test server answers absolute-form requests, so it stands in for the proxy.
    HlsTestServer proxy;
    HlsServerOptions options;
    options.requireHeader = "Proxy-Authorization: Basic " + QByteArray("us@r:p:a/s@").toBase64();
    options.maxSeconds = 60;
    QVERIFY(proxy.start(m_root, options));
    ProxyEnabled = true;
    ProxyString =
        BuildProxyString("http", "127.0.0.1", QString::number(proxy.port()), "us@r", "p:a/s@");
    const QString target = m_base.filePath("proxied/index.m3u8");
    QDir().mkpath(m_base.filePath("proxied"));
    const QString url = m_server.url("/clear/index.m3u8");
    const bool fetched = aria2 ? Aria2DownloadFile(url, target, QString())
                               : DownloadFile(url, target, FetchRequest{});
    QVERIFY(fetched);
    QCOMPARE(ReadAll(target), ReadAll(m_root + "/clear/index.m3u8"));
    QCOMPARE(proxy.countRequests("/clear/index\\.m3u8$"), 1);
    proxy.stop();
}

void TestDownloadFile::aria2_fetch_sends_the_headers() {
    HlsTestServer guarded;
    HlsServerOptions options;
    options.requireHeader = "X-Token: secret value";
    options.maxSeconds = 60;
    QVERIFY(guarded.start(m_root, options));
    const QString target = m_base.filePath("guarded/index.m3u8");
    QDir().mkpath(m_base.filePath("guarded"));
    QVERIFY(!Aria2DownloadFile(guarded.url("/clear/index.m3u8"), target, "X-Other: 1"));
    QVERIFY(!QFile::exists(target));
    QVERIFY(Aria2DownloadFile(guarded.url("/clear/index.m3u8"), target,
                              "Referer: http://127.0.0.1/\r\nX-Token: secret value"));
    QCOMPARE(ReadAll(target), ReadAll(m_root + "/clear/index.m3u8"));
    QVERIFY(!QFile::exists(target + ".aria2"));
    guarded.stop();
}

void TestDownloadFile::aria2_fetch_with_control_file_left_fails() {
    UseFakeAria2();
    qputenv("FAKE_CONTROL", "1");
    const QString target = m_base.filePath("unfinished.ts");
    QVERIFY(!Aria2DownloadFile(m_server.url("/clear/seg0.ts"), target, QString()));
    QVERIFY(Entries(m_base.path()).filter("unfinished").isEmpty());
    qunsetenv("FAKE_CONTROL");
    QVERIFY(Aria2DownloadFile(m_server.url("/clear/seg0.ts"), target, QString()));
    QCOMPARE(ReadAll(target), QByteArray("partial"));
}

void TestDownloadFile::aria2_arguments_keep_quotes_and_blanks_whole() {
    UseFakeAria2();
    ProxyEnabled = true;
    ProxyString = "http://127.0.0.1:9";
    const QString dir = m_base.filePath(R"(my "odd" folder)");
    QVERIFY(QDir().mkpath(dir));
    const QString target = dir + R"(/clip "one" two.m3u8)";
    const QString url = m_server.url("/clear/index.m3u8");
    const bool ok =
        Aria2DownloadFile(url, target, "X-Quote: say \"hi\" now\r\nReferer: http://r/a b");
    ProxyEnabled = false;
    ProxyString.clear();
    QVERIFY(ok);
    QStringList argv =
        QString::fromUtf8(ReadAll(m_base.filePath("argv.txt"))).split('\n', Qt::SkipEmptyParts);
    // The list has a name of its own making; it was private, and it is gone.
    const QString list = argv.value(6);
    QVERIFY2(list.startsWith(target + ".") && list.endsWith(".lst"), qPrintable(list));
    QVERIFY(!QFile::exists(list));
    QCOMPARE(ReadAll(m_base.filePath("argv.txt.mode")).trimmed(), QByteArray("600"));
    argv[6] = "LIST";
    const QString expected =
        "--check-certificate=false --follow-metalink=false "
        "--follow-torrent=false --enable-dht=false -c -i LIST -d " +
        dir + " -s 1 --disk-cache=0 --file-allocation=none";
    QCOMPARE(argv.join(' '), expected);
    const QStringList lines =
        QString::fromUtf8(ReadAll(m_base.filePath("argv.txt.lst"))).split('\n', Qt::SkipEmptyParts);
    const QStringList listed{url, " out=" + QFileInfo(list.chopped(4) + ".part").fileName(),
                             " all-proxy=http://127.0.0.1:9", " header=X-Quote: say \"hi\" now",
                             " header=Referer: http://r/a b"};
    QCOMPARE(lines, listed);
    QCOMPARE(ReadAll(target), QByteArray("partial"));
    QCOMPARE(Entries(dir), QStringList{QFileInfo(target).fileName()});
}

void TestDownloadFile::aria2_is_not_started_for_an_option_line() {
    UseFakeAria2();
    QFile::remove(m_base.filePath("argv.txt"));
    const QString target = m_base.filePath("injected.ts");
    QVERIFY(!Aria2DownloadFile("--on-download-complete=/bin/true " + m_server.url("/a.ts"), target,
                               QString()));
    QVERIFY(!QFile::exists(m_base.filePath("argv.txt")));
    QVERIFY(!QFile::exists(target));
}

QTEST_GUILESS_MAIN(TestDownloadFile)
#include "tst_download_file.moc"
