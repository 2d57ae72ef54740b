// How a task ends when something goes wrong: failing and stalled segments, stop requests, bad
// keys, a missing or failing ffmpeg, and playlist text that tries to become a tool option.

#include "EngineFixture.h"
#include "HlsTestServer.h"
#include "MediaProbe.h"
#include "TestStreams.h"
#include "hls/EngineNotice.h"
#include "hls/TM3u8Class.h"
#include "support/ExternalTools.h"
#include "support/FileUtils.h"
#include "support/TextUtils.h"
#include "support/WorkFolders.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace EngineFixture;

namespace {

QByteArray ReadAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Keeps a copy of each run's input list, then becomes the real aria2c.
QByteArray ListRecordingAria2(const QString &realAria2) {
    return QByteArray(R"(#!/bin/sh
n=$(ls "$RUNS" | wc -l)
prev=
for a in "$@"; do
    if [ "$prev" = "-i" ]; then cp "$a" "$RUNS/run$((n + 1)).lst"; pwd > "$RUNS.pwd"; fi
    prev=$a
done
exec ")") + realAria2.toUtf8() +
           "\" \"$@\"\n";
}

// Records its arguments one per line; writes the last argument (the output) only when asked;
// then exits with FAKE_EXIT, or hangs ignoring SIGTERM with FAKE_HANG.
const char kFakeFFmpeg[] = R"(#!/bin/sh
: > "$FAKE_ARGV"
for a in "$@"; do printf '%s\n' "$a" >> "$FAKE_ARGV"; last=$a; done
if [ -n "$FAKE_WRITE" ]; then printf 'merged' > "$last"; fi
if [ -n "$FAKE_HANG" ]; then trap '' TERM; while :; do sleep 0.2; done; fi
exit ${FAKE_EXIT:-0}
)";

}  // namespace

class TestTaskFailures : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void segments_failing_for_a_while_are_fetched_by_later_runs();
    void segment_that_always_fails_ends_after_five_runs_that_bring_nothing();
    void stalled_run_is_ended_and_counts_as_a_run();
    void stop_during_download_ends_with_stop();
    void stop_between_direct_segments_ends_with_stop();
    void short_key_is_refused();
    void missing_key_fails();
    void missing_ffmpeg_is_reported_once();
    void aria2c_that_cannot_start_is_reported();
    void ffmpeg_that_cannot_start_is_reported();
    void merge_arguments_keep_quotes_and_blanks_whole();
    void output_left_from_an_earlier_run_is_not_a_success();
    void option_line_in_the_playlist_never_reaches_aria2c();
    void segments_without_length_count_only_once_aria2c_finished();
    void cut_bodies_are_fetched_again_never_merged_short();
    void merge_that_fails_after_writing_removes_its_output();
    void merge_that_hangs_is_ended_by_the_watchdog();
    void error_page_or_short_range_file_is_never_done_data();
    void error_page_or_short_range_file_is_never_done();
    void file_slower_than_the_stall_limit_still_arrives();
    void changed_key_makes_the_kept_folder_start_over();
    void endless_segment_fails_at_its_cap_data();
    void endless_segment_fails_at_its_cap();

private:
    bool Run(TM3u8 &task, TaskEvents &events, const QString &url, const QString &out,
             int timeoutMs = 60000);
    QString UseTools(const QString &name, bool aria2, bool ffmpeg);

    QTemporaryDir m_base;
    QString m_root;
    HlsTestServer m_server;
    QString m_workDir;
    QString m_runs;
};

void TestTaskFailures::initTestCase() {
    QVERIFY(m_base.isValid());
    IsolateEnvironment(m_base.path());
    QVERIFY2(!TestStreams::Root().isEmpty(), "test streams were not generated");
    m_root = m_base.filePath("www");
    QVERIFY(CopyTree(TestStreams::Root(), m_root));
    QVERIFY(WriteFile(m_root + "/keys/short.key", QByteArray(15, 'k')));
    QByteArray aes = ReadAll(m_root + "/aes/index.m3u8");
    QVERIFY(aes.contains("/keys/aes.key"));
    QVERIFY(WriteFile(m_root + "/aes/short.m3u8",
                      QByteArray(aes).replace("/keys/aes.key", "/keys/short.key")));
    QVERIFY(WriteFile(m_root + "/aes/nokey.m3u8",
                      QByteArray(aes).replace("/keys/aes.key", "/keys/missing.key")));
    QVERIFY(WriteFile(m_root + "/three/index.m3u8",
                      "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0,\n/clear/seg0.ts\n"
                      "#EXTINF:1.0,\n/clear/seg1.ts\n#EXTINF:1.0,\n/clear/seg2.ts\n"
                      "#EXT-X-ENDLIST\n"));
    const QString marker = m_base.filePath("hooked");
    const QString hook = m_base.filePath("hook.sh");
    QVERIFY(WriteScript(hook, ("#!/bin/sh\ntouch '" + marker + "'\n").toUtf8()));
    QVERIFY(
        WriteFile(m_root + "/inject/index.m3u8", ("#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0,\n"
                                                  "--on-download-complete=" +
                                                  hook +
                                                  " @BASE@/clear/seg0.ts\n#EXTINF:1.0,\n"
                                                  "--on-download-start=" +
                                                  hook + " @BASE@/clear/seg1.ts\n#EXT-X-ENDLIST\n")
                                                     .toUtf8()));
    // A login page answered with 200 in place of a segment.
    QByteArray clear = ReadAll(m_root + "/clear/index.m3u8");
    QVERIFY(WriteFile(m_root + "/page/index.m3u8",
                      clear.replace("seg3.ts", "login.ts").replace("seg", "../clear/seg")));
    QVERIFY(WriteFile(m_root + "/page/login.ts", "\r\n  <!DOCTYPE html><html>Log in</html>\n"));
    // The one file of a byte-range stream, shorter than its last range by whole TS packets.
    const QByteArray ranged = ReadAll(m_root + "/ranges/index.ts");
    QVERIFY(WriteFile(m_root + "/short-ranges/index.m3u8", ReadAll(m_root + "/ranges/index.m3u8")));
    QVERIFY(
        WriteFile(m_root + "/short-ranges/index.ts", ranged.left(ranged.size() / 188 / 2 * 188)));
    HlsServerOptions options;
    options.failPattern = "^/clear/seg[45]\\.ts$";
    options.failFirst = 2;
    options.failAlways = "^/mixed/seg5\\.ts$";
    options.stallPattern = "^/v2/seg3\\.ts$";
    options.stallFirst = 1;
    options.maxSeconds = 200;
    QVERIFY2(m_server.start(m_root, options), qPrintable(m_server.errorString()));
}

void TestTaskFailures::init() {
    m_runs = m_base.filePath(QStringLiteral("runs-%1").arg(QTest::currentTestFunction()));
    QVERIFY(QDir().mkpath(m_runs));
    qputenv("RUNS", m_runs.toUtf8());
    qputenv("FAKE_ARGV", m_base.filePath("ffmpeg-argv.txt").toUtf8());
}

void TestTaskFailures::cleanup() {
    ExternalTools::Instance().Reset();
    TM3u8::SetStallLimitMs(300000);
    SetEngineNotice({});
    qunsetenv("FAKE_WRITE");
    qunsetenv("FAKE_EXIT");
    qunsetenv("FAKE_HANG");
    TM3u8::SetMergeStallLimitMs(60000);
}

// A tools folder with the list-recording aria2c and the fake ffmpeg as asked, nothing else.
QString TestTaskFailures::UseTools(const QString &name, bool aria2, bool ffmpeg) {
    const QString dir = m_base.filePath("tools-" + name);
    QDir().mkpath(dir);
    if (aria2)
        WriteScript(dir + "/aria2c", ListRecordingAria2(QStandardPaths::findExecutable("aria2c")));
    if (ffmpeg)
        WriteScript(dir + "/ffmpeg", kFakeFFmpeg);
    ExternalTools::Instance().SetProgramDir(dir);
    ExternalTools::Instance().SetSearchPath({});
    return dir;
}

bool TestTaskFailures::Run(TM3u8 &task, TaskEvents &events, const QString &url, const QString &out,
                           int timeoutMs) {
    task.TaskId = 3;
    task.SetUrl(url);
    task.SetOutput(out);
    m_workDir = task.WorkDir;
    task.Start();
    return events.WaitForEnd(timeoutMs);
}

void TestTaskFailures::segments_failing_for_a_while_are_fetched_by_later_runs() {
    UseTools("retry", true, false);
    ExternalTools::Instance().SetSearchPath(
        {QFileInfo(QStandardPaths::findExecutable("ffmpeg")).path()});
    TM3u8 task;
    TaskEvents events(task);
    const QString out = m_base.filePath("retry.mp4");
    QVERIFY(Run(task, events, m_server.url("/clear/index.m3u8"), out));
    QCOMPARE(events.errors, QStringList());
    QCOMPARE(events.finished, 1);
    QCOMPARE(task.Aria2Runs, 3u);
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));

    QCOMPARE(Entries(m_runs), QStringList({"run1.lst", "run2.lst", "run3.lst"}));
    QStringList first;
    QCOMPARE(LoadTextFile(m_runs + "/run1.lst", first, false), 2 * TestStreams::SegmentCount);
    QCOMPARE(first.at(0), m_server.url("/clear/seg0.ts"));
    QCOMPARE(first.at(1), QStringLiteral(" out=01.ts"));
    const QByteArray missing = (m_server.url("/clear/seg4.ts") + "\r\n out=05.ts\r\n" +
                                m_server.url("/clear/seg5.ts") + "\r\n out=06.ts\r\n")
                                   .toUtf8();
    QCOMPARE(ReadAll(m_runs + "/run2.lst"), missing);
    QCOMPARE(ReadAll(m_runs + "/run3.lst"), missing);
}

void TestTaskFailures::segment_that_always_fails_ends_after_five_runs_that_bring_nothing() {
    UseTools("always", true, false);
    TM3u8 task;
    TaskEvents events(task);
    const QString out = m_base.filePath("always.mp4");
    QVERIFY(Run(task, events, m_server.url("/mixed/index.m3u8"), out));
    QCOMPARE(events.errors, QStringList{"ts下载失败"});
    QCOMPARE(events.finished + events.stopped, 0);
    // The first run brings the five good segments; five more bring nothing.
    QCOMPARE(task.Aria2Runs, 6u);
    QCOMPARE(Entries(m_runs).size(), 6);
    QCOMPARE(ReadAll(m_runs + "/run6.lst"),
             (m_server.url("/mixed/seg5.ts") + "\r\n out=06.ts\r\n").toUtf8());
    QVERIFY(!task.Running);
    QVERIFY(task.Aria2Process == nullptr);
    QVERIFY(!QFileInfo::exists(m_workDir));
    QVERIFY(!QFile::exists(out));
}

void TestTaskFailures::stalled_run_is_ended_and_counts_as_a_run() {
    QCOMPARE(TM3u8::StallLimitMs(), 300000u);
    TM3u8::SetStallLimitMs(1500);
    UseTools("stall", true, false);
    ExternalTools::Instance().SetSearchPath(
        {QFileInfo(QStandardPaths::findExecutable("ffmpeg")).path()});
    TM3u8 task;
    TaskEvents events(task);
    const QString out = m_base.filePath("stall.mp4");
    QVERIFY(Run(task, events, m_server.url("/v2/index.m3u8"), out, 40000));
    QCOMPARE(events.errors, QStringList());
    QCOMPARE(events.finished, 1);
    QCOMPARE(task.Aria2Runs, 2u);
    QCOMPARE(ReadAll(m_runs + "/run2.lst"),
             (m_server.url("/v2/seg3.ts") + "\r\n out=04.ts\r\n").toUtf8());
    QCOMPARE(m_server.countRequests("^/v2/seg3\\.ts$"), 2);
    QVERIFY(MediaProbe::HasVideo(out));
}

void TestTaskFailures::stop_during_download_ends_with_stop() {
    HlsTestServer slow;
    HlsServerOptions options;
    options.latencyMs = 400;
    options.failPattern = "^$";
    options.maxSeconds = 60;
    QVERIFY(slow.start(m_root, options));
    TM3u8 task;
    TaskEvents events(task);
    qint64 aria2Pid = 0;
    auto record = task.OnProgress;
    task.OnProgress = [&](int id, const QString &name, float percent, const QString &status) {
        record(id, name, percent, status);
        if (status == QStringLiteral("下载中")) {
            if (task.Aria2Process)
                aria2Pid = task.Aria2Process->processId();
            task.Stop();
        }
    };
    QVERIFY(Run(task, events, slow.url("/clear/index.m3u8"), m_base.filePath("stop.mp4")));
    QCOMPARE(events.stopped, 1);
    QCOMPARE(events.errors, QStringList());
    QCOMPARE(events.finished, 0);
    QVERIFY(!task.Running);
    QVERIFY(task.Aria2Process == nullptr);
    // Kept, with what was complete, for the next start to resume from.
    QVERIFY(IsWorkDir(m_workDir));
    QVERIFY(!QFile::exists(m_base.filePath("stop.mp4")));
    QVERIFY(aria2Pid > 0);
    QVERIFY2(::kill(pid_t(aria2Pid), 0) != 0, "aria2c is still running");
    slow.stop();
}

// Without aria2c too, a stopped task keeps its segments and the next start fetches the rest.
void TestTaskFailures::stop_between_direct_segments_ends_with_stop() {
    const QString dir = UseTools("direct-stop", false, false);
    QVERIFY(QFile::link(QStandardPaths::findExecutable("ffmpeg"), dir + "/ffmpeg"));
    TM3u8 task;
    QVERIFY(task.NoAria2);
    TaskEvents events(task);
    auto record = task.OnProgress;
    task.OnProgress = [&](int id, const QString &name, float percent, const QString &status) {
        record(id, name, percent, status);
        if (status == QStringLiteral("下载中"))
            task.Stop();
    };
    QVERIFY(Run(task, events, m_server.url("/three/index.m3u8"), m_base.filePath("ds.mp4")));
    QCOMPARE(events.stopped, 1);
    QCOMPARE(events.errors, QStringList());
    QCOMPARE(events.progress.size(), 2);
    QVERIFY(IsWorkDir(m_workDir));

    const int seg0 = m_server.countRequests("^/clear/seg0\\.ts$");
    const int seg1 = m_server.countRequests("^/clear/seg1\\.ts$");
    TM3u8 again;
    TaskEvents resumed(again);
    const QString out = m_base.filePath("ds.mp4");
    QVERIFY(Run(again, resumed, m_server.url("/three/index.m3u8"), out));
    QCOMPARE(resumed.errors, QStringList());
    QCOMPARE(resumed.finished, 1);
    QCOMPARE(m_server.countRequests("^/clear/seg0\\.ts$"), seg0);
    QCOMPARE(m_server.countRequests("^/clear/seg1\\.ts$"), seg1 + 1);
    QVERIFY(qAbs(MediaProbe::Duration(out) - 3.0) <= 1.0);
    QVERIFY(!QFileInfo::exists(m_workDir));
}

void TestTaskFailures::short_key_is_refused() {
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(Run(task, events, m_server.url("/aes/short.m3u8"), m_base.filePath("short.mp4")));
    QCOMPARE(events.errors, QStringList{"不支持的加密key"});
    QVERIFY(!task.Running);
    QVERIFY(!QFileInfo::exists(m_workDir));
    QCOMPARE(m_server.countRequests("^/aes/seg[1-9]\\.ts$"), 0);
}

void TestTaskFailures::missing_key_fails() {
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(Run(task, events, m_server.url("/aes/nokey.m3u8"), m_base.filePath("nokey.mp4")));
    QCOMPARE(events.errors, QStringList{"key下载失败"});
    QVERIFY(!task.Running);
    QVERIFY(!QFileInfo::exists(m_workDir));
}

void TestTaskFailures::missing_ffmpeg_is_reported_once() {
    const QString dir = UseTools("no-ffmpeg", false, false);
    QVERIFY(QFile::link(QStandardPaths::findExecutable("aria2c"), dir + "/aria2c"));
    QStringList notices;
    SetEngineNotice([&notices](const QString &text, const QString &caption) {
        notices << caption + "|" + text;
    });
    TM3u8 task;
    QVERIFY(!task.NoAria2);
    TaskEvents events(task);
    QVERIFY(Run(task, events, m_server.url("/clear/index.m3u8"), m_base.filePath("noff.mp4")));
    QCOMPARE(notices, QStringList{"错误|ffmpeg.exe 缺失!"});
    QCOMPARE(events.errors, QStringList{"ffmpeg程序缺失"});
    QVERIFY(!task.Running);
    QVERIFY(!QFileInfo::exists(m_workDir));
}

void TestTaskFailures::aria2c_that_cannot_start_is_reported() {
    const QString dir = UseTools("aria2-gone", true, false);
    TM3u8 task;
    QVERIFY(!task.NoAria2);
    // Found when the slot was made, gone when the segments are due.
    QVERIFY(QFile::remove(dir + "/aria2c"));
    TaskEvents events(task);
    QVERIFY(Run(task, events, m_server.url("/three/index.m3u8"), m_base.filePath("a2.mp4")));
    QCOMPARE(events.errors, QStringList{"Aria2启动失败"});
    QVERIFY(!task.Running);
    QVERIFY(!QFileInfo::exists(m_workDir));
}

void TestTaskFailures::ffmpeg_that_cannot_start_is_reported() {
    const QString dir = UseTools("ffmpeg-broken", true, false);
    // Executable but no program: the system refuses to start it.
    QVERIFY(WriteScript(dir + "/ffmpeg", QByteArray("\x01\x02 not a program")));
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(Run(task, events, m_server.url("/three/index.m3u8"), m_base.filePath("fb.mp4")));
    QCOMPARE(events.errors, QStringList{"ffmpeg启动失败"});
    QVERIFY(!task.Running);
    QVERIFY(!QFileInfo::exists(m_workDir));
}

void TestTaskFailures::merge_arguments_keep_quotes_and_blanks_whole() {
    UseTools("fake-ffmpeg", true, true);
    qputenv("FAKE_WRITE", "1");
    const QString outDir = m_base.filePath(R"(out "quoted" dir)");
    QVERIFY(QDir().mkpath(outDir));
    const QString out = outDir + R"(/my "best" clip.mp4)";
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(Run(task, events, m_server.url("/three/index.m3u8"), out));
    QCOMPARE(events.errors, QStringList());
    QCOMPARE(events.finished, 1);
    const QStringList argv = QString::fromUtf8(ReadAll(m_base.filePath("ffmpeg-argv.txt")))
                                 .split('\n', Qt::SkipEmptyParts);
    const QStringList expected{"-protocol_whitelist",
                               "file,crypto",
                               "-allowed_extensions",
                               "ALL",
                               "-y",
                               "-i",
                               m_workDir + "/index.m3u8",
                               "-c",
                               "copy",
                               out};
    QCOMPARE(argv, expected);
    QCOMPARE(ReadAll(out), QByteArray("merged"));
}

void TestTaskFailures::output_left_from_an_earlier_run_is_not_a_success() {
    UseTools("lazy-ffmpeg", true, true);
    const QString out = m_base.filePath("leftover.mp4");
    QVERIFY(WriteFile(out, "an output of an earlier run"));
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(Run(task, events, m_server.url("/three/index.m3u8"), out));
    QCOMPARE(events.errors, QStringList{"合并失败"});
    QCOMPARE(events.finished, 0);
    QVERIFY(!QFileInfo::exists(m_workDir));
    QCOMPARE(ReadAll(out), QByteArray("an output of an earlier run"));
}

void TestTaskFailures::option_line_in_the_playlist_never_reaches_aria2c() {
    UseTools("inject", true, false);
    const int before = m_server.requestLog().size();
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(Run(task, events, m_server.url("/inject/index.m3u8"), m_base.filePath("inj.mp4")));
    QCOMPARE(events.errors, QStringList{"ts下载失败"});
    QVERIFY(!QFile::exists(m_base.filePath("hooked")));
    // The lines are relative references on the playlist's own server, never options.
    for (const QString &request : m_server.requestLog().mid(before))
        QVERIFY2(request.section(' ', 1).startsWith("/inject/"), qPrintable(request));
    for (const QByteArray &line : ReadAll(m_runs + "/run1.lst").split('\n'))
        QVERIFY2(line.isEmpty() || line.startsWith("http://127.0.0.1:") || line.startsWith(" out="),
                 line.constData());
}

void TestTaskFailures::segments_without_length_count_only_once_aria2c_finished() {
    // Half of each body, a pause, the rest, and no length: a half file without a control file
    // sits in the work folder while aria2c still writes it.
    HlsTestServer server;
    HlsServerOptions options;
    options.noContentLength = "chunked";
    options.pauseMidBodyMs = 1500;
    options.maxSeconds = 120;
    QVERIFY(server.start(m_root, options));
    UseTools("no-length", true, false);
    ExternalTools::Instance().SetSearchPath(
        {QFileInfo(QStandardPaths::findExecutable("ffmpeg")).path()});
    TM3u8 task;
    TaskEvents events(task);
    const QString out = m_base.filePath("nolength.mp4");
    QVERIFY(Run(task, events, server.url("/clear/index.m3u8"), out));
    QCOMPARE(events.errors, QStringList());
    QCOMPARE(events.finished, 1);
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
    // aria2c ran in the work folder, not in the output's.
    QCOMPARE(QString::fromUtf8(ReadAll(m_runs + ".pwd")).trimmed(), m_workDir);
    server.stop();
}

void TestTaskFailures::cut_bodies_are_fetched_again_never_merged_short() {
    // Close-delimited bodies cut short look complete to aria2c; only their content tells.
    HlsTestServer server;
    HlsServerOptions options;
    options.noContentLength = "close";
    options.cutRate = 0.5;
    options.cutAfter = 5000;
    options.seed = 3;
    options.failPattern = "^/clear/seg[0-9]\\.ts$";
    options.maxSeconds = 120;
    QVERIFY(server.start(m_root, options));
    UseTools("cut", true, false);
    ExternalTools::Instance().SetSearchPath(
        {QFileInfo(QStandardPaths::findExecutable("ffmpeg")).path()});
    TM3u8 task;
    TaskEvents events(task);
    const QString out = m_base.filePath("cut.mp4");
    QVERIFY(Run(task, events, server.url("/clear/index.m3u8"), out));
    QVERIFY(server.requestLog().filter(QRegularExpression(" cut$")).size() >= 1);
    if (events.finished == 1) {
        QVERIFY(task.Aria2Runs >= 2);
        QCOMPARE(MediaProbe::VideoFrameMd5(out),
                 MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
    } else {
        QCOMPARE(events.errors, QStringList{"ts下载失败"});
        QVERIFY(!QFile::exists(out));
    }
    QVERIFY(!QFileInfo::exists(m_workDir));
    server.stop();
}

void TestTaskFailures::merge_that_fails_after_writing_removes_its_output() {
    UseTools("failing-ffmpeg", true, true);
    qputenv("FAKE_WRITE", "1");
    qputenv("FAKE_EXIT", "1");
    const QString out = m_base.filePath("partial.mp4");
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(Run(task, events, m_server.url("/three/index.m3u8"), out));
    QCOMPARE(events.errors, QStringList{"合并失败"});
    QCOMPARE(events.finished, 0);
    QVERIFY(!QFile::exists(out));
    QVERIFY(!QFileInfo::exists(m_workDir));
}

void TestTaskFailures::merge_that_hangs_is_ended_by_the_watchdog() {
    UseTools("hanging-ffmpeg", true, true);
    qputenv("FAKE_WRITE", "1");
    qputenv("FAKE_HANG", "1");
    TM3u8::SetMergeStallLimitMs(1000);
    const QString out = m_base.filePath("hang.mp4");
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(Run(task, events, m_server.url("/three/index.m3u8"), out, 60000));
    QCOMPARE(events.errors, QStringList{"合并失败"});
    QVERIFY(!task.Running);
    QVERIFY(!QFile::exists(out));
    QVERIFY(!QFileInfo::exists(m_workDir));
}

void TestTaskFailures::error_page_or_short_range_file_is_never_done_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("html page as a segment") << "/page/index.m3u8";
    QTest::newRow("byte-range file cut short") << "/short-ranges/index.m3u8";
}

void TestTaskFailures::error_page_or_short_range_file_is_never_done() {
    QFETCH(QString, path);
    TM3u8 task;
    TaskEvents events(task);
    const QString out = m_base.filePath("never-done.mp4");
    QVERIFY(Run(task, events, m_server.url(path), out));
    QCOMPARE(events.errors, QStringList{"ts下载失败"});
    QVERIFY(!QFile::exists(out));
}

void TestTaskFailures::file_slower_than_the_stall_limit_still_arrives() {
    // The stream's one file takes about 6 s; bytes keep coming, so the 2 s limit never ends
    // the run.
    HlsTestServer slow;
    HlsServerOptions options;
    options.extraArgs = QStringList{"--slow-body", "^/ranges/index\\.ts$", "--slow-rate", "50000"};
    options.maxSeconds = 90;
    QVERIFY(slow.start(m_root, options));
    TM3u8::SetStallLimitMs(2000);
    TM3u8 task;
    TaskEvents events(task);
    const QString out = m_base.filePath("slow.mp4");
    QVERIFY(Run(task, events, slow.url("/ranges/index.m3u8"), out, 60000));
    QCOMPARE(events.errors, QStringList());
    QCOMPARE(events.finished, 1);
    QCOMPARE(task.Aria2Runs, 1u);
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
    slow.stop();
}

void TestTaskFailures::changed_key_makes_the_kept_folder_start_over() {
    // The first start keeps five segments under one key and stops; then the server serves the
    // same segment addresses encrypted under another key.
    const QString dir = m_root + "/rekey";
    const auto serve = [&](const QString &from, const QByteArray &keyUri, const QString &key) {
        for (int i = 0; i < TestStreams::SegmentCount; ++i) {
            const QString name = QStringLiteral("/seg%1.ts").arg(i);
            QVERIFY(WriteFile(dir + name, ReadAll(m_root + "/" + from + name)));
        }
        QVERIFY(WriteFile(dir + "/k.key", ReadAll(m_root + "/keys/" + key)));
        QVERIFY(WriteFile(dir + "/index.m3u8",
                          ReadAll(m_root + "/" + from + "/index.m3u8").replace(keyUri, "k.key")));
    };
    serve("aes", "/keys/aes.key", "aes.key");
    HlsTestServer server;
    HlsServerOptions options;
    options.stallPattern = "^/rekey/seg5\\.ts$";
    options.stallFirst = 1;
    options.maxSeconds = 90;
    QVERIFY(server.start(m_root, options));
    const QString out = m_base.filePath("rekey.mp4");
    {
        TM3u8 task;
        TaskEvents events(task);
        auto record = task.OnProgress;
        task.OnProgress = [&](int id, const QString &name, float percent, const QString &status) {
            record(id, name, percent, status);
            if (percent > 80.0f && percent < 90.0f)
                task.Stop();
        };
        QVERIFY(Run(task, events, server.url("/rekey/index.m3u8"), out));
        QCOMPARE(events.stopped, 1);
    }
    serve("aes2", "aes2.key", "aes2.key");
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(Run(task, events, server.url("/rekey/index.m3u8"), out));
    QCOMPARE(events.errors, QStringList());
    QCOMPARE(events.finished, 1);
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
    server.stop();
}

// A segment whose body never ends (no length, bytes arriving all the time) is cut at the cap
// and fails the task, through aria2c and without it; it used to grow until the disk was full.
void TestTaskFailures::endless_segment_fails_at_its_cap_data() {
    QTest::addColumn<bool>("aria2");
    QTest::newRow("aria2c") << true;
    QTest::newRow("direct") << false;
}

void TestTaskFailures::endless_segment_fails_at_its_cap() {
    QFETCH(bool, aria2);
    HlsTestServer endless;
    HlsServerOptions options;
    options.extraArgs = QStringList{"--endless", "^/clear/seg2\\.ts$",    "--endless-chunk",
                                    "65536",     "--endless-interval-ms", "2"};
    options.maxSeconds = 60;
    QVERIFY(endless.start(m_root, options));
    const QString dir = UseTools(QTest::currentDataTag(), aria2, false);
    QVERIFY(QFile::link(QStandardPaths::findExecutable("ffmpeg"), dir + "/ffmpeg"));
    TM3u8::SetSegmentMaxBytes(4 << 20);
    TM3u8 task;
    TaskEvents events(task);
    // Growing on disk by megabytes a second, the stall limit never ends it.
    QVERIFY(
        Run(task, events, endless.url("/clear/index.m3u8"), m_base.filePath("endless.mp4"), 40000));
    TM3u8::SetSegmentMaxBytes(qint64(1) << 30);
    QCOMPARE(events.errors, QStringList{"ts下载失败"});
    QVERIFY2(task.FailReason.contains("seg2.ts"), qPrintable(task.FailReason));
    QVERIFY(!QFileInfo::exists(m_base.filePath("endless.mp4")));
    endless.stop();
}

QTEST_GUILESS_MAIN(TestTaskFailures)
#include "tst_task_failures.moc"
