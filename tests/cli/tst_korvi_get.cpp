// The korvi-get command: arguments, output lines, exit codes, headers, proxy, Ctrl-C, its work
// folders and its children, run as a real process against the local test server.

#include "HlsTestServer.h"
#include "MediaProbe.h"
#include "TestStreams.h"
#include "TestTools.h"
#include "support/TextUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>

#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Result = TestTools::Captured;

// Processes whose parent is `parent`, from /proc.
QList<qint64> ChildrenOf(qint64 parent) {
    QList<qint64> children;
    for (const QString &name : QDir("/proc").entryList(QDir::Dirs)) {
        const QByteArray stat = TestTools::ReadFile("/proc/" + name + "/stat");
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == parent)
            children << name.toLongLong();
    }
    return children;
}

bool IsRunning(qint64 pid) {
    const QByteArray stat = TestTools::ReadFile("/proc/" + QString::number(pid) + "/stat");
    return !stat.isEmpty() && stat.mid(stat.lastIndexOf(')') + 2, 1) != "Z";
}

// A folder's names, owner and mode, to see that nothing was written into it.
QString FolderState(const QString &dir) {
    const QFileInfo info(dir);
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).join(',') +
           QString(" %1 %2 %3")
               .arg(info.ownerId())
               .arg(info.permissions().toInt())
               .arg(info.isSymLink());
}

}  // namespace

class TestKorviGet : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void bad_arguments_print_usage_data();
    void bad_arguments_print_usage();
    void help_prints_usage();
    void download_prints_one_line_per_change();
    void terminal_gets_one_updating_line_with_segment_count();
    void task_error_goes_to_standard_error_with_its_reason_data();
    void task_error_goes_to_standard_error_with_its_reason();
    void header_options_reach_the_server();
    void proxy_option_sends_every_fetch_through_the_proxy();
    void endless_answer_fails_at_its_cap_and_leaves_nothing_data();
    void endless_answer_fails_at_its_cap_and_leaves_nothing();
    void ctrl_c_ends_a_key_fetch_at_once();
    void jobs_option_reaches_aria2c();
    void ctrl_c_keeps_the_segments_and_the_next_run_resumes_data();
    void ctrl_c_keeps_the_segments_and_the_next_run_resumes();
    void live_playlist_ends_and_leaves_no_work_folder();
    void fmp4_stream_merges_with_its_init_section_data();
    void fmp4_stream_merges_with_its_init_section();
    void joined_encodes_merge_into_one_file_of_both_lengths_data();
    void byte_ranges_of_one_file_fetch_it_once();
    void variant_option_picks_by_bandwidth_data();
    void variant_option_picks_by_bandwidth();
    void separate_audio_rendition_is_merged_with_the_video_data();
    void separate_audio_rendition_is_merged_with_the_video();
    void joined_encodes_merge_into_one_file_of_both_lengths();
    void folders_of_another_user_are_neither_used_nor_written();
    void link_at_the_work_folder_place_keeps_its_target();
    void second_run_on_one_address_fails_at_once_and_the_first_succeeds();
    void killed_run_leaves_no_tool_running();
    void playlist_as_servers_write_it_gives_video_and_audio();
    void hostile_playlist_never_opens_a_local_file_data();
    void hostile_playlist_never_opens_a_local_file();
    void long_aes_stream_with_ciphertext_starting_like_ts_downloads();

private:
    QProcessEnvironment Environment(const QString &tmp = QString()) const;
    Result Run(const QStringList &args, int timeoutMs = 60000, const QString &tmp = QString());
    QString WorkDirOf(const QString &url) const;
    QStringList WorkDirsLeft() const;
    // A run on a slow server, one segment at a time, once it has started aria2c.
    bool StartSlowRun(QProcess &p, HlsTestServer &slow, const QString &out);

    QTemporaryDir m_base;
    QString m_root;
    QString m_tmp;
    HlsTestServer m_server;
};

void TestKorviGet::initTestCase() {
    QVERIFY(m_base.isValid());
    QVERIFY2(!TestStreams::Root().isEmpty(), "test streams were not generated");
    m_root = TestStreams::Root();
    m_tmp = m_base.filePath("tmp");
    QVERIFY(QDir().mkpath(m_tmp));
    QVERIFY(QDir().mkpath(m_base.filePath("home")));
    QVERIFY(QFile::exists(KORVI_BINARY_DIR "/korvi-get"));
    QVERIFY2(m_server.start(m_root), qPrintable(m_server.errorString()));
}

QProcessEnvironment TestKorviGet::Environment(const QString &tmp) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", tmp.isEmpty() ? m_tmp : tmp);
    env.insert("HOME", m_base.filePath("home"));
    for (const char *name : {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "HTTP_PROXY",
                             "HTTPS_PROXY", "FTP_PROXY", "ALL_PROXY"})
        env.remove(name);
    env.insert("no_proxy", "*");
    return env;
}

QString TestKorviGet::WorkDirOf(const QString &url) const {
    return m_tmp + "/korvi-" + QString::number(getuid()) + "/korvi-get/" + Crc32Hex(url);
}

QStringList TestKorviGet::WorkDirsLeft() const {
    return QDir(QFileInfo(WorkDirOf("x")).path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

Result TestKorviGet::Run(const QStringList &args, int timeoutMs, const QString &tmp) {
    QProcess p;
    p.setProcessEnvironment(Environment(tmp));
    p.start(KORVI_BINARY_DIR "/korvi-get", args);
    if (!p.waitForStarted(5000))
        return {};
    return TestTools::Finish(p, timeoutMs);
}

void TestKorviGet::bad_arguments_print_usage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("nothing") << QStringList();
    QTest::newRow("address only") << QStringList{"http://127.0.0.1:1/a.m3u8"};
    QTest::newRow("three positionals") << QStringList{"a", "b", "c"};
    QTest::newRow("unknown option") << QStringList{"--fast", "http://127.0.0.1:1/a.m3u8", "o"};
    QTest::newRow("-H without value") << QStringList{"http://127.0.0.1:1/a.m3u8", "o", "-H"};
    QTest::newRow("--proxy without value") << QStringList{"x", "o", "--proxy"};
    QTest::newRow("unknown variant") << QStringList{"--variant", "best", "x", "o"};
    QTest::newRow("-j 0") << QStringList{"-j", "0", "http://127.0.0.1:1/a.m3u8", "o"};
    QTest::newRow("-j 33") << QStringList{"-j", "33", "http://127.0.0.1:1/a.m3u8", "o"};
    QTest::newRow("-j not a number") << QStringList{"-j", "many", "http://127.0.0.1:1/a.m3u8", "o"};
    QTest::newRow("-j without value") << QStringList{"http://127.0.0.1:1/a.m3u8", "o", "-j"};
    QTest::newRow("output folder missing")
        << QStringList{"http://127.0.0.1:1/a.m3u8", "/nonexistent-korvi/dir/o.mp4"};
}

void TestKorviGet::bad_arguments_print_usage() {
    QFETCH(QStringList, args);
    const Result r = Run(args);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains("korvi-get [-H \"Key: Value\"]... [--proxy URL] [-j N] ADDRESS OUTPUT"),
             qPrintable(r.err));
    QVERIFY(r.out.isEmpty());
}

void TestKorviGet::help_prints_usage() {
    const Result r = Run({"--help"});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.contains("ADDRESS OUTPUT"));
}

void TestKorviGet::download_prints_one_line_per_change() {
    const QString out = m_base.filePath("clip.ts");
    const Result r = Run({m_server.url("/clear/index.m3u8"), out});
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.size() >= 5, qPrintable(r.out));
    QCOMPARE(lines.at(0), QStringLiteral("分析中 0.00%"));
    QCOMPARE(lines.at(1), QStringLiteral("下载中 0.00%"));
    QCOMPARE(lines.at(lines.size() - 3), QStringLiteral("下载中 100.00%"));
    QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("合并中 90.00%"));
    QVERIFY(lines.last().contains(out + ".mp4"));
    QVERIFY(!r.out.contains('\r'));
    const QString mp4 = out + ".mp4";
    QVERIFY(MediaProbe::HasVideo(mp4));
    QVERIFY(MediaProbe::HasAudio(mp4));
    QVERIFY(qAbs(MediaProbe::Duration(mp4) - TestStreams::SourceDuration()) <= 1.0);
    QCOMPARE(WorkDirsLeft(), QStringList());
}

void TestKorviGet::terminal_gets_one_updating_line_with_segment_count() {
    const QString script = QStandardPaths::findExecutable("script");
    if (script.isEmpty())
        QSKIP("script (util-linux) is needed for a pseudo-terminal");
    const QString out = m_base.filePath("tty.mp4");
    const QString command =
        QStringLiteral("'%1' '%2' '%3'")
            .arg(KORVI_BINARY_DIR "/korvi-get", m_server.url("/clear/index.m3u8"), out);
    QProcess p;
    p.setProcessEnvironment(Environment());
    p.start(script, {"-q", "-e", "-c", command, "/dev/null"});
    QVERIFY(p.waitForStarted(5000));
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
    const QString text = QString::fromUtf8(p.readAllStandardOutput());
    // The download phase is one line rewritten in place, ending with all segments counted.
    const QStringList lines = text.split(QRegularExpression("\\r?\\n"), Qt::SkipEmptyParts);
    const QStringList downloading = lines.filter(QStringLiteral("下载中"));
    QCOMPARE(downloading.size(), 1);
    QVERIFY2(downloading.first().contains('\r'), qPrintable(text));
    QVERIFY2(downloading.first().contains(
                 QStringLiteral("下载中 100.00%  (%1/%1)").arg(TestStreams::SegmentCount)),
             qPrintable(text));
    QVERIFY(MediaProbe::HasVideo(out));
}

void TestKorviGet::task_error_goes_to_standard_error_with_its_reason_data() {
    QTest::addColumn<QString>("address");     // @S@ stands for this test's server
    QTest::addColumn<QString>("failAlways");  // paths the server always answers with 500
    QTest::addColumn<QString>("expected");    // @A@ stands for the address
    QTest::newRow("connection refused") << "http://127.0.0.1:1/x.m3u8"
                                        << ""
                                        << "m3u8无效: Couldn't connect to server (@A@)";
    QTest::newRow("404") << "@S@/no/such.m3u8"
                         << ""
                         << "m3u8无效: HTTP 404 Not Found (@A@)";
    QTest::newRow("403") << "@S@/clear/index.m3u8?need-header"
                         << ""
                         << "m3u8无效: HTTP 403 Forbidden, 可能需要请求头 (Referer / Cookie) (@A@)";
    QTest::newRow("not a playlist") << "@S@/source.mp4"
                                    << ""
                                    << "m3u8无效: 不是 m3u8 播放列表 (@A@)";
    QTest::newRow("a segment always fails")
        << "@S@/clear/index.m3u8"
        << "^/clear/seg3\\.ts$"
        << "ts下载失败: 缺少 1 个分段, 第一个: HTTP 500 Internal Server Error (@S@/clear/seg3.ts)";
    QTest::newRow("key fails") << "@S@/aes/index.m3u8"
                               << "^/keys/"
                               << "key下载失败: HTTP 500 Internal Server Error (@S@/keys/aes.key)";
    QTest::newRow("merge fails") << "@S@/clear/index.m3u8?fake-ffmpeg"
                                 << ""
                                 << "合并失败: ffmpeg: @A@: Invalid data found";
}

void TestKorviGet::task_error_goes_to_standard_error_with_its_reason() {
    QFETCH(QString, address);
    QFETCH(QString, failAlways);
    QFETCH(QString, expected);
    HlsTestServer server;
    HlsServerOptions options;
    if (address.endsWith("?need-header"))
        options.requireHeader = "X-Need: 1";
    options.failAlways = failAlways;
    QVERIFY(server.start(m_root, options));
    address.replace("@S@", server.baseUrl());
    expected.replace("@S@", server.baseUrl()).replace("@A@", address);
    // A stand-in ffmpeg, first on the path, that fails as on a broken input.
    const QByteArray path = qgetenv("PATH");
    if (address.endsWith("?fake-ffmpeg")) {
        QVERIFY(TestTools::WriteFile(
            m_base.filePath("fake/ffmpeg"),
            "#!/bin/sh\necho \"" + address.toUtf8() + ": Invalid data found\" >&2\nexit 1\n"));
        QFile::setPermissions(m_base.filePath("fake/ffmpeg"), QFile::ReadOwner | QFile::ExeOwner);
        qputenv("PATH", m_base.filePath("fake").toUtf8() + ":" + path);
    }
    const Result r = Run({address, m_base.filePath("none.mp4")});
    qputenv("PATH", path);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err.trimmed(), expected);
    QVERIFY(r.out.startsWith(QStringLiteral("分析中 0.00%\n")));
    QVERIFY(!QFile::exists(m_base.filePath("none.mp4")));
    QVERIFY(!QFileInfo::exists(WorkDirOf(address)));
}

void TestKorviGet::header_options_reach_the_server() {
    // A value of this run's own, so other programs on the machine cannot blur the scan below.
    const QString value =
        QStringLiteral("a \"quoted\" value %1").arg(QCoreApplication::applicationPid());
    HlsTestServer guarded;
    HlsServerOptions options;
    options.requireHeader = "X-Token: " + value;
    options.latencyMs = 100;  // long enough a run for the scan below to see its children
    options.maxSeconds = 120;
    QVERIFY(guarded.start(m_root, options));
    const QString url = guarded.url("/aes/index.m3u8");
    const Result without = Run({url, m_base.filePath("h0.mp4")});
    QCOMPARE(without.exitCode, 1);
    QVERIFY(without.err.startsWith(QStringLiteral("m3u8无效: HTTP 403")));

    // The header is on the command lines of korvi-get, where the user put it (and of its forks
    // before they exec), and of the server, and on no other: every local user can read
    // /proc/<pid>/cmdline.
    QProcess p;
    p.setProcessEnvironment(Environment());
    p.start(KORVI_BINARY_DIR "/korvi-get", {"--verbose", "-H", "Referer: http://korvi.test/", "-H",
                                            "X-Token: " + value, url, m_base.filePath("h1.mp4")});
    QVERIFY(p.waitForStarted(5000));
    const QByteArray own =
        TestTools::ReadFile(QStringLiteral("/proc/%1/cmdline").arg(p.processId()));
    const QString server = QString::number(guarded.pid());
    const QByteArray workArea = m_tmp.toUtf8();
    QStringList exposed;
    bool aria2Seen = false;
    while (!p.waitForFinished(5)) {
        for (const QString &pid : QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs)) {
            QByteArray cmdline = TestTools::ReadFile("/proc/" + pid + "/cmdline");
            aria2Seen = aria2Seen || (cmdline.contains("aria2c") && cmdline.contains(workArea));
            if (pid != server && cmdline != own && cmdline.contains(value.toUtf8()))
                exposed << QString::fromUtf8(cmdline.replace('\0', ' '));
        }
    }
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(aria2Seen);
    QVERIFY2(exposed.isEmpty(), qPrintable(exposed.mid(0, 3).join(" | ")));
    QVERIFY(MediaProbe::HasVideo(m_base.filePath("h1.mp4")));
    // --verbose names every fetch and tool, never a header's value.
    const QString verbose = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(verbose.contains("GET " + url + " [Referer: …] [X-Token: …]"), qPrintable(verbose));
    QVERIFY(verbose.contains(QRegularExpression("aria2c .*-i ")));
    QVERIFY(verbose.contains(QRegularExpression("ffmpeg .*-c copy")));
    QVERIFY(!verbose.contains(value));
    guarded.stop();
}

void TestKorviGet::proxy_option_sends_every_fetch_through_the_proxy() {
    // The test server answers absolute-form requests too, so it can stand in for a proxy.
    HlsTestServer proxy;
    QVERIFY(proxy.start(m_root));
    const Result r = Run({"--proxy", proxy.baseUrl(), m_server.url("/aes/index.m3u8"),
                          m_base.filePath("proxied.mp4")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(proxy.countRequests("/aes/index\\.m3u8$"), 1);
    QCOMPARE(proxy.countRequests("/keys/aes\\.key$"), 1);
    // Every segment, and the head of the first, which the analysis probes.
    QCOMPARE(proxy.countRequests("/aes/seg[0-9]+\\.ts$"), TestStreams::SegmentCount + 1);
    proxy.stop();
}

void TestKorviGet::endless_answer_fails_at_its_cap_and_leaves_nothing_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("status");
    QTest::newRow("key") << "^/keys/" << QStringLiteral("key下载失败");
    QTest::newRow("playlist") << "^/aes/index" << QStringLiteral("m3u8无效");
}

void TestKorviGet::endless_answer_fails_at_its_cap_and_leaves_nothing() {
    QFETCH(QString, pattern);
    QFETCH(QString, status);
    HlsTestServer endless;
    HlsServerOptions options;
    options.extraArgs = {"--endless", pattern, "--endless-chunk", "65536", "--endless-interval-ms",
                         "0"};
    options.maxSeconds = 120;
    QVERIFY(endless.start(m_root, options));
    QElapsedTimer clock;
    clock.start();
    const Result r = Run({endless.url("/aes/index.m3u8"), m_base.filePath("endless.mp4")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.startsWith(status), qPrintable(r.err));
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
    QDirIterator left(m_tmp, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    QVERIFY2(!left.hasNext(), qPrintable(left.hasNext() ? left.next() : QString()));
    endless.stop();
}

void TestKorviGet::ctrl_c_ends_a_key_fetch_at_once() {
    HlsTestServer silent;
    HlsServerOptions options;
    options.stallPattern = "^/keys/";
    options.maxSeconds = 120;
    QVERIFY(silent.start(m_root, options));
    QProcess p;
    p.setProcessEnvironment(Environment());
    p.start(KORVI_BINARY_DIR "/korvi-get",
            {silent.url("/aes/index.m3u8"), m_base.filePath("stopped.mp4")});
    QVERIFY(p.waitForStarted(5000));
    QDeadlineTimer deadline(30000);
    while (silent.countRequests("^/keys/") == 0 && !deadline.hasExpired())
        p.waitForFinished(20);
    QCOMPARE(p.state(), QProcess::Running);
    ::kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(3000));
    QCOMPARE(p.exitCode(), 130);
    // The folder stays, with what earlier runs completed, for the next run to resume from.
    const QString err = QString::fromUtf8(p.readAllStandardError());
    const QRegularExpressionMatch kept =
        QRegularExpression(QStringLiteral("已停止: 已下载的分段保留在 (.+), ")).match(err);
    QVERIFY2(kept.hasMatch() && QFileInfo(kept.captured(1)).isDir(), qPrintable(err));
    QVERIFY(QDir(m_tmp).removeRecursively() && QDir().mkpath(m_tmp));
    silent.stop();
}

void TestKorviGet::jobs_option_reaches_aria2c() {
    // A wrapper ahead of the real aria2c on PATH notes each run's arguments.
    const QString wrapDir = m_base.filePath("wrap");
    const QString argsLog = m_base.filePath("aria2c.args");
    QVERIFY(QDir().mkpath(wrapDir));
    QFile wrapper(wrapDir + "/aria2c");
    QVERIFY(wrapper.open(QIODevice::WriteOnly));
    wrapper.write("#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + argsLog.toUtf8() + "'\nexec '" +
                  QStandardPaths::findExecutable("aria2c").toUtf8() + "' \"$@\"\n");
    wrapper.close();
    QVERIFY(wrapper.setPermissions(wrapper.permissions() | QFileDevice::ExeOwner));

    QProcess p;
    QProcessEnvironment env = Environment();
    env.insert("PATH", wrapDir + ":" + env.value("PATH"));
    p.setProcessEnvironment(env);
    const QString out = m_base.filePath("jobs.mp4");
    p.start(KORVI_BINARY_DIR "/korvi-get", {"-j", "3", m_server.url("/clear/index.m3u8"), out});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(MediaProbe::HasVideo(out));
    QFile log(argsLog);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList args = QString::fromUtf8(log.readAll()).split('\n');
    const int j = int(args.indexOf("-j"));
    QVERIFY2(j >= 0, qPrintable(args.join(' ')));
    QCOMPARE(args.at(j + 1), QString("3"));
    QVERIFY(args.contains("--file-allocation=none"));
}

void TestKorviGet::ctrl_c_keeps_the_segments_and_the_next_run_resumes_data() {
    QTest::addColumn<bool>("changePlaylist");
    QTest::newRow("same playlist") << false;
    QTest::newRow("changed playlist") << true;
}

// Stopped at about half, a download keeps what is complete; the next run of the same address
// fetches only the rest, unless the playlist now lists other segments.
void TestKorviGet::ctrl_c_keeps_the_segments_and_the_next_run_resumes() {
    QFETCH(bool, changePlaylist);
    const QString root = m_base.filePath(changePlaylist ? "resume-changed" : "resume-same");
    QVERIFY(QDir().mkpath(root + "/clear"));
    for (const QString &name : QDir(m_root + "/clear").entryList(QDir::Files))
        QVERIFY(QFile::copy(m_root + "/clear/" + name, root + "/clear/" + name));
    HlsTestServer slow;
    HlsServerOptions options;
    options.latencyMs = 700;
    options.maxSeconds = 120;
    QVERIFY(slow.start(root, options));
    const QString url = slow.url("/clear/index.m3u8");
    const QString workDir = WorkDirOf(url);
    const QString out = m_base.filePath(changePlaylist ? "changed.mp4" : "resumed.mp4");
    const QStringList args = {"-j", "1", url, out};

    QProcess p;
    p.setProcessEnvironment(Environment());
    p.start(KORVI_BINARY_DIR "/korvi-get", args);
    QVERIFY(p.waitForStarted(5000));
    auto completeSegments = [&] {
        int complete = 0;
        const QStringList names = QDir(workDir).entryList({"*.ts"}, QDir::Files);
        for (const QString &name : names) {
            const QString file = workDir + "/" + name;
            complete += QFileInfo(file).size() > 0 && !QFile::exists(file + ".aria2");
        }
        return complete;
    };
    QDeadlineTimer deadline(60000);
    while (completeSegments() < 3 && p.state() == QProcess::Running && !deadline.hasExpired())
        p.waitForFinished(50);
    QCOMPARE(p.state(), QProcess::Running);
    ::kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 130);
    QVERIFY(!QFile::exists(out));

    // What the stopped run settled as complete, by address.
    const QStringList record =
        QString::fromUtf8(TestTools::ReadFile(workDir + "/" + Crc32Hex(url) + ".resume"))
            .split('\n');
    QStringList done;
    QString doneFile;
    for (const QString &line : record) {
        if (line.startsWith("1 ")) {
            done << QUrl(line.section(' ', 3)).path();
            doneFile = workDir + "/" + line.section(' ', 2, 2);
        }
    }
    QVERIFY2(done.size() >= 3 && done.size() < 6, qPrintable(record.join('|')));
    // A complete file that changed since (here cut short) is fetched again.
    QFile cut(doneFile);
    QVERIFY(cut.open(QIODevice::ReadWrite) && cut.resize(cut.size() - 188));
    cut.close();
    done.removeLast();

    if (changePlaylist) {
        // Same content under other names: a different segment list.
        QByteArray playlist = TestTools::ReadFile(root + "/clear/index.m3u8");
        for (int i = 0; i < 6; ++i)
            QVERIFY(QFile::copy(root + QString("/clear/seg%1.ts").arg(i),
                                root + QString("/clear/new%1.ts").arg(i)));
        playlist.replace("seg", "new");
        QVERIFY(TestTools::WriteFile(root + "/clear/index.m3u8", playlist));
    }
    const int logBefore = int(slow.requestLog().size());
    const Result r = Run(args, 120000);
    QCOMPARE(r.exitCode, 0);
    const QStringList secondRun = slow.requestLog().mid(logBefore);
    auto requestsFor = [&](const QString &path) {
        return int(std::count_if(secondRun.begin(), secondRun.end(), [&](const QString &line) {
            return line.section(' ', 1, 1) == path;
        }));
    };
    for (int i = 0; i < 6; ++i) {
        const QString seg = QString("/clear/seg%1.ts").arg(i);
        if (changePlaylist)  // the first line of a new list is probed, as always
            QCOMPARE(requestsFor(QString("/clear/new%1.ts").arg(i)), i == 0 ? 2 : 1);
        else
            QCOMPARE(requestsFor(seg), done.contains(seg) ? 0 : 1);
    }
    QVERIFY(qAbs(MediaProbe::Duration(out) - TestStreams::SourceDuration()) <= 1.0);
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
    QVERIFY(!QFileInfo::exists(workDir));
    slow.stop();
}

void TestKorviGet::live_playlist_ends_and_leaves_no_work_folder() {
    // Without an end-list tag ffmpeg would wait for the playlist to grow, for ever. Taken as
    // the snapshot listed, not recorded.
    const QString out = m_base.filePath("live.mp4");
    const Result r = Run({"--no-record", m_server.url("/live/index.m3u8"), out}, 120000);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
    QCOMPARE(WorkDirsLeft(), QStringList());
}

void TestKorviGet::fmp4_stream_merges_with_its_init_section_data() {
    QTest::addColumn<QString>("dir");
    QTest::newRow("clear") << "fmp4";
    QTest::newRow("aes-128") << "fmp4aes";
}

void TestKorviGet::fmp4_stream_merges_with_its_init_section() {
    QFETCH(QString, dir);
    const QString out = m_base.filePath(dir + ".mp4");
    const QString init = "^/" + dir + "/init\\.mp4$";
    const int initBefore = m_server.countRequests(init);
    const Result r = Run({m_server.url("/" + dir + "/index.m3u8"), out}, 120000);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("下载中 100.00%")), qPrintable(r.out));
    // The init section is fetched once, as one more item of the download.
    QCOMPARE(m_server.countRequests(init) - initBefore, 1);
    QVERIFY(MediaProbe::HasAudio(out));
    QVERIFY(qAbs(MediaProbe::Duration(out) - TestStreams::SourceDuration()) <= 1.0);
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
    QCOMPARE(WorkDirsLeft(), QStringList());
}

void TestKorviGet::joined_encodes_merge_into_one_file_of_both_lengths_data() {
    QTest::addColumn<QString>("dir");
    QTest::newRow("mpeg-ts, clock restarts") << "joined";
    QTest::newRow("mpeg-ts, clock jumps ahead") << "joined-ahead";
    QTest::newRow("mpeg-ts, clock jumps back") << "joined-back";
    QTest::newRow("fmp4, a map for each part") << "joined-fmp4";
}

void TestKorviGet::joined_encodes_merge_into_one_file_of_both_lengths() {
    // Whatever the second encode's clock does after the discontinuity, the parts follow each
    // other: no gap, no overlap, sound and picture of the same length.
    QFETCH(QString, dir);
    const QString out = m_base.filePath(dir + ".mp4");
    const QString second = m_root + "/second.mp4";
    const Result r = Run({m_server.url("/" + dir + "/index.m3u8"), out}, 120000);
    QCOMPARE(r.exitCode, 0);
    const double both = TestStreams::SourceDuration() + MediaProbe::Duration(second);
    for (const double got : {MediaProbe::Duration(out), MediaProbe::StreamDuration(out, "v"),
                             MediaProbe::StreamDuration(out, "a")})
        QVERIFY2(qAbs(got - both) <= 0.5, qPrintable(QString::number(got)));
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()) +
                                                 MediaProbe::VideoFrameMd5(second));
}

void TestKorviGet::byte_ranges_of_one_file_fetch_it_once() {
    const QString url = m_server.url("/ranges/index.m3u8");
    const QString out = m_base.filePath("ranges.mp4");
    // The shared file is asked for as often as one segment of a stream without ranges is, and
    // not once for each of its six lines.
    const int seg0Before = m_server.countRequests("^/clear/seg0\\.ts$", "GET");
    QCOMPARE(Run({m_server.url("/clear/index.m3u8"), m_base.filePath("seg0.mp4")}).exitCode, 0);
    const int perSegment = m_server.countRequests("^/clear/seg0\\.ts$", "GET") - seg0Before;
    const int before = m_server.countRequests("^/ranges/index\\.ts$", "GET");
    const Result r = Run({url, out}, 120000);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(m_server.countRequests("^/ranges/index\\.ts$", "GET") - before, perSegment);
    // What ffmpeg itself makes of the stream, reading the ranges from the server.
    const QString direct = m_base.filePath("ranges-direct.mp4");
    QProcess ffmpeg;
    ffmpeg.setProcessEnvironment(Environment());
    ffmpeg.start("ffmpeg",
                 {"-nostdin", "-loglevel", "error", "-y", "-i", url, "-c", "copy", direct});
    QVERIFY(ffmpeg.waitForFinished(60000));
    QCOMPARE(ffmpeg.exitCode(), 0);
    QVERIFY(MediaProbe::HasAudio(out));
    QVERIFY(qAbs(MediaProbe::Duration(out) - MediaProbe::Duration(direct)) <= 1.0);
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(direct));
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
}

void TestKorviGet::variant_option_picks_by_bandwidth_data() {
    QTest::addColumn<QStringList>("option");
    QTest::addColumn<QSize>("size");
    QTest::newRow("default: first listed") << QStringList() << QSize(240, 136);
    QTest::newRow("first") << QStringList{"--variant", "first"} << QSize(240, 136);
    QTest::newRow("highest") << QStringList{"--variant", "highest"} << QSize(320, 180);
    QTest::newRow("lowest") << QStringList{"--variant", "LOWEST"} << QSize(160, 90);
}

void TestKorviGet::variant_option_picks_by_bandwidth() {
    QFETCH(QStringList, option);
    QFETCH(QSize, size);
    const QString out = m_base.filePath("variant-" + QString(QTest::currentDataTag()) + ".mp4");
    const Result r = Run(option + QStringList{m_server.url("/master3.m3u8"), out});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(MediaProbe::VideoSize(out), size);
    QVERIFY(MediaProbe::HasAudio(out));
    QVERIFY(qAbs(MediaProbe::Duration(out) - TestStreams::SourceDuration()) <= 1.0);
}

void TestKorviGet::separate_audio_rendition_is_merged_with_the_video_data() {
    // The first entry is followed after a probe, a chosen one straight away.
    QTest::addColumn<QString>("variant");
    QTest::newRow("first") << "first";
    QTest::newRow("highest") << "highest";
}

void TestKorviGet::separate_audio_rendition_is_merged_with_the_video() {
    QFETCH(QString, variant);
    // The variant's own segments hold no sound: any audio in the output is the rendition's.
    QVERIFY(!MediaProbe::HasAudio(m_root + "/alt/video0.ts"));
    QStringList audioSegments;
    QVERIFY(LoadTextFile(m_root + "/alt/audio.m3u8", audioSegments, true) > 0);
    audioSegments.removeIf([](const QString &line) { return line.startsWith('#'); });
    QVERIFY(audioSegments.size() >= TestStreams::SegmentCount);

    const QString out = m_base.filePath("alt-" + variant + ".mp4");
    const qsizetype logBefore = m_server.requestLog().size();
    const Result r = Run({"--variant", variant, m_server.url("/alt/master.m3u8"), out}, 120000);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("下载中 100.00%")), qPrintable(r.out));
    // Every audio segment was fetched in this run.
    const QStringList log = m_server.requestLog().mid(logBefore);
    for (const QString &segment : audioSegments) {
        const QRegularExpression fetched("^GET /alt/" + QRegularExpression::escape(segment) +
                                         " 20[06]$");
        QVERIFY2(log.indexOf(fetched) >= 0, qPrintable(segment));
    }
    QCOMPARE(MediaProbe::StreamKinds(out), (QStringList{"video", "audio"}));
    QVERIFY2(qAbs(MediaProbe::Duration(out) - TestStreams::SourceDuration()) <= 1.0,
             qPrintable(QString::number(MediaProbe::Duration(out))));
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
    QCOMPARE(WorkDirsLeft(), QStringList());
}

void TestKorviGet::folders_of_another_user_are_neither_used_nor_written() {
    const passwd *nobody = getpwnam("nobody");
    if (getuid() != 0 || !nobody)
        QSKIP("needs root to hand folders to another user");
    // Made first by another user: the private folder's name and the address's old folder, with
    // a resume record that invites adoption.
    const QString tmp = m_base.filePath("shared");
    const QString url = m_server.url("/clear/index.m3u8");
    const QStringList theirs = {tmp + "/korvi-" + QString::number(getuid()),
                                tmp + "/" + Crc32Hex(url)};
    for (const QString &dir : theirs) {
        QVERIFY(TestTools::WriteFile(dir + "/" + Crc32Hex(url) + ".resume", "1 9 01.ts x\n"));
        QVERIFY(TestTools::WriteFile(dir + "/theirs.txt", "theirs"));
        QVERIFY(QProcess::execute("chown", {"-R", "nobody", dir}) == 0);
        QVERIFY(chmod(QFile::encodeName(dir).constData(), 0777) == 0);
    }
    const QString before = FolderState(theirs[0]) + FolderState(theirs[1]);
    const QString out = m_base.filePath("foreign.mp4");
    const Result r = Run({url, out}, 60000, tmp);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
    QCOMPARE(FolderState(theirs[0]) + FolderState(theirs[1]), before);
}

void TestKorviGet::link_at_the_work_folder_place_keeps_its_target() {
    const QString url = m_server.url("/clear/index.m3u8?linked");
    const QString place = WorkDirOf(url);
    for (const QString &dir :
         {QFileInfo(QFileInfo(place).path()).path(), QFileInfo(place).path()}) {
        QDir().mkdir(dir);
        QVERIFY(chmod(QFile::encodeName(dir).constData(), 0700) == 0);
    }
    const QString target = m_base.filePath("linked");
    QVERIFY(TestTools::WriteFile(target + "/" + Crc32Hex(url) + ".resume", "1 9 01.ts x\n"));
    QVERIFY(TestTools::WriteFile(target + "/01.ts", "mine"));
    QVERIFY(QFile::link(target, place));
    const QString before = FolderState(target);
    const QString out = m_base.filePath("linked.mp4");
    QCOMPARE(Run({url, out}).exitCode, 0);
    QVERIFY(MediaProbe::HasVideo(out));
    QCOMPARE(FolderState(target), before);
    QCOMPARE(TestTools::ReadFile(target + "/01.ts"), QByteArray("mine"));
    QVERIFY(!QFileInfo(place).isSymLink());
}

bool TestKorviGet::StartSlowRun(QProcess &p, HlsTestServer &slow, const QString &out) {
    HlsServerOptions options;
    options.latencyMs = 700;
    options.maxSeconds = 120;
    if (!slow.start(m_root, options))
        return false;
    p.setProcessEnvironment(Environment());
    p.start(KORVI_BINARY_DIR "/korvi-get", {"-j", "1", slow.url("/clear/index.m3u8"), out});
    QDeadlineTimer deadline(30000);
    while (ChildrenOf(p.processId()).isEmpty() && p.state() != QProcess::NotRunning &&
           !deadline.hasExpired())
        p.waitForFinished(50);
    return p.state() == QProcess::Running;
}

void TestKorviGet::second_run_on_one_address_fails_at_once_and_the_first_succeeds() {
    HlsTestServer slow;
    QProcess first;
    const QString out = m_base.filePath("first.mp4");
    QVERIFY(StartSlowRun(first, slow, out));
    const QString second = m_base.filePath("second.mp4");
    const Result r = Run({"--variant", "highest", slow.url("/clear/index.m3u8"), second});
    QCOMPARE(first.state(), QProcess::Running);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err.trimmed(), QStringLiteral("另一进程正在下载此地址"));
    QVERIFY(first.waitForFinished(60000));
    QCOMPARE(first.exitCode(), 0);
    QVERIFY(!QFile::exists(second));
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
    QVERIFY(qAbs(MediaProbe::Duration(out) - TestStreams::SourceDuration()) <= 1.0);
}

void TestKorviGet::killed_run_leaves_no_tool_running() {
    HlsTestServer slow;
    QProcess p;
    QVERIFY(StartSlowRun(p, slow, m_base.filePath("killed.mp4")));
    const QList<qint64> children = ChildrenOf(p.processId());
    QVERIFY(!children.isEmpty());
    ::kill(pid_t(p.processId()), SIGKILL);
    QVERIFY(p.waitForFinished(5000));
    QTest::qWait(3000);
    QList<qint64> left;
    for (qint64 child : children) {
        if (IsRunning(child)) {
            left << child;
            ::kill(pid_t(child), SIGKILL);
        }
    }
    QCOMPARE(left, QList<qint64>());
}

void TestKorviGet::long_aes_stream_with_ciphertext_starting_like_ts_downloads() {
    const QString dir = m_root + "/long-aes";
    int startsLikeTs = 0;
    for (int i = 0; i < TestStreams::LongAesSegmentCount; ++i) {
        QFile segment(dir + QStringLiteral("/seg%1.ts").arg(i));
        QVERIFY(segment.open(QIODevice::ReadOnly));
        startsLikeTs += segment.read(1) == "\x47";
    }
    QVERIFY(startsLikeTs >= 3);
    const QString out = m_base.filePath("long-aes.mp4");
    const Result r = Run({m_server.url("/long-aes/index.m3u8"), out}, 180000);
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    const QString source = m_root + "/long-source.mp4";
    QVERIFY(qAbs(MediaProbe::Duration(out) - MediaProbe::Duration(source)) <= 0.5);
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(source));
}

QTEST_GUILESS_MAIN(TestKorviGet)
#include "tst_korvi_get.moc"

// A master as servers write it: saved with a byte-order mark, reached through a redirect to
// another folder, an audio-only variant listed first, and lines that climb with "..". The test
// server refuses paths holding dot segments, as many servers do.
void TestKorviGet::playlist_as_servers_write_it_gives_video_and_audio() {
    const QString root = m_base.filePath("written");
    for (const QString &dir : {QString("clear"), QString("alt")}) {
        QVERIFY(QDir().mkpath(root + "/" + dir));
        for (const QString &name : QDir(m_root + "/" + dir).entryList(QDir::Files))
            QVERIFY(QFile::copy(m_root + "/" + dir + "/" + name, root + "/" + dir + "/" + name));
    }
    QVERIFY(TestTools::WriteFile(
        root + "/pl/f/master.m3u8",
        "\xEF\xBB\xBF#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=64000,CODECS=\"mp4a.40.2\"\n"
        "../../alt/audio.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=900000,CODECS=\"avc1.42c01e,mp4a.40.2\"\nv/index.m3u8\n"));
    QByteArray media = TestTools::ReadFile(root + "/clear/index.m3u8");
    media.replace("\nseg", "\n../../../clear/seg");
    QVERIFY(TestTools::WriteFile(root + "/pl/f/v/index.m3u8", media));
    HlsTestServer server;
    HlsServerOptions options;
    options.redirects << qMakePair(QString("/moved/list.m3u8"), QString("/pl/f/master.m3u8"));
    QVERIFY(server.start(root, options));
    const QString out = m_base.filePath("written.mp4");
    const Result r = Run({server.url("/moved/list.m3u8"), out}, 120000);
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(MediaProbe::StreamKinds(out), (QStringList{"video", "audio"}));
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
    QCOMPARE(server.countRequests("/\\.\\.?/"), 0);
}

void TestKorviGet::hostile_playlist_never_opens_a_local_file_data() {
    QTest::addColumn<QByteArray>("playlist");  // @SECRET@ stands for the private file's path
    const QByteArray head = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n";
    const QByteArray tail = "#EXTINF:1,\n/clear/seg1.ts\n#EXT-X-ENDLIST\n";
    QTest::newRow("NUL in a kept tag")
        << head + "#EXTINF:1," + QByteArray(1, '\0') + "@SECRET@\n/clear/seg0.ts\n" + tail;
    QTest::newRow("variant tag after the first segment")
        << head + "#EXTINF:1,\n/clear/seg0.ts\n#EXT-X-STREAM-INF:BANDWIDTH=1\n@SECRET@\n" + tail;
    QTest::newRow("key line with two URIs")
        << head +
               "#EXT-X-KEY:METHOD=AES-128,URI=\"/keys/aes.key\",URI=\"@SECRET@\"\n"
               "#EXTINF:1,\n/aes/seg0.ts\n" +
               tail;
}

// What a playlist smuggles is refused before any tool runs: the private file is never opened.
void TestKorviGet::hostile_playlist_never_opens_a_local_file() {
    QFETCH(QByteArray, playlist);
    const QString secret = m_base.filePath("private/secret.ts");
    QVERIFY(QDir().mkpath(m_base.filePath("private")));
    QFile::remove(secret);
    QVERIFY(QFile::copy(m_root + "/clear/seg0.ts", secret));
    const QString root = m_base.filePath(QStringLiteral("hostile/") + QTest::currentDataTag());
    playlist.replace("@SECRET@", secret.toUtf8());
    QVERIFY(TestTools::WriteFile(root + "/list/index.m3u8", playlist));
    for (const QString &dir : {QString("clear"), QString("aes"), QString("keys")}) {
        QVERIFY(QDir().mkpath(root + "/" + dir));
        for (const QString &name : QDir(m_root + "/" + dir).entryList(QDir::Files))
            QFile::copy(m_root + "/" + dir + "/" + name, root + "/" + dir + "/" + name);
    }
    HlsTestServer server;
    QVERIFY(server.start(root));
    const int watch = inotify_init1(IN_NONBLOCK);
    QVERIFY(watch >= 0);
    QVERIFY(inotify_add_watch(watch, secret.toUtf8().constData(), IN_OPEN | IN_ACCESS) >= 0);
    const QString out = m_base.filePath("hostile.mp4");
    const Result r = Run({server.url("/list/index.m3u8"), out});
    char events[4096];
    const ssize_t got = ::read(watch, events, sizeof events);
    ::close(watch);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("m3u8无效")), qPrintable(r.err));
    QVERIFY(!QFile::exists(out));
    QCOMPARE(got, ssize_t(-1));  // no event: the file was never opened
}
