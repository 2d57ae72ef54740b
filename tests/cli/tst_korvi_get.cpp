// The korvi-get command: arguments, output lines, exit codes, headers, proxy and Ctrl-C, run
// as a real process against the local test server.

#include "HlsTestServer.h"
#include "MediaProbe.h"
#include "TestStreams.h"
#include "TestTools.h"
#include "support/TextUtils.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>

namespace {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

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
    void task_error_goes_to_standard_error();
    void header_options_reach_the_server();
    void proxy_option_sends_aria2c_through_the_proxy();
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
    void long_aes_stream_with_ciphertext_starting_like_ts_downloads();

private:
    QProcessEnvironment Environment() const;
    Result Run(const QStringList &args, int timeoutMs = 60000);

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

QProcessEnvironment TestKorviGet::Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", m_tmp);
    env.insert("HOME", m_base.filePath("home"));
    for (const char *name : {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "HTTP_PROXY",
                             "HTTPS_PROXY", "FTP_PROXY", "ALL_PROXY"})
        env.remove(name);
    env.insert("no_proxy", "*");
    return env;
}

Result TestKorviGet::Run(const QStringList &args, int timeoutMs) {
    QProcess p;
    p.setProcessEnvironment(Environment());
    p.start(KORVI_BINARY_DIR "/korvi-get", args);
    Result r;
    if (!p.waitForStarted(5000))
        return r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
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
    QCOMPARE(QDir(m_tmp).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
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

void TestKorviGet::task_error_goes_to_standard_error() {
    const Result r = Run({m_server.url("/no/such.m3u8"), m_base.filePath("none.mp4")});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err.trimmed(), QStringLiteral("m3u8无效"));
    QVERIFY(r.out.startsWith(QStringLiteral("分析中 0.00%\n")));
    QVERIFY(!QFile::exists(m_base.filePath("none.mp4")));
    QVERIFY(!QFileInfo::exists(m_tmp + "/" + Crc32Hex(m_server.url("/no/such.m3u8"))));
}

void TestKorviGet::header_options_reach_the_server() {
    HlsTestServer guarded;
    HlsServerOptions options;
    options.requireHeader = "X-Token: a \"quoted\" value";
    options.maxSeconds = 120;
    QVERIFY(guarded.start(m_root, options));
    const QString url = guarded.url("/clear/index.m3u8");
    const Result without = Run({url, m_base.filePath("h0.mp4")});
    QCOMPARE(without.exitCode, 1);
    QCOMPARE(without.err.trimmed(), QStringLiteral("m3u8无效"));
    const Result with = Run({"-H", "Referer: http://korvi.test/", "-H",
                             "X-Token: a \"quoted\" value", url, m_base.filePath("h1.mp4")});
    QCOMPARE(with.exitCode, 0);
    QVERIFY(MediaProbe::HasVideo(m_base.filePath("h1.mp4")));
    guarded.stop();
}

void TestKorviGet::proxy_option_sends_aria2c_through_the_proxy() {
    // The test server answers absolute-form requests too, so it can stand in for a proxy.
    HlsTestServer proxy;
    QVERIFY(proxy.start(m_root));
    const Result r = Run({"--proxy", proxy.baseUrl(), m_server.url("/clear/index.m3u8"),
                          m_base.filePath("proxied.mp4")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(proxy.countRequests("/clear/seg[0-9]+\\.ts$"), TestStreams::SegmentCount);
    proxy.stop();
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
    const QString workDir = m_tmp + "/" + Crc32Hex(url);
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
    // Without an end-list tag ffmpeg would wait for the playlist to grow, for ever.
    const QString out = m_base.filePath("live.mp4");
    const Result r = Run({m_server.url("/live/index.m3u8"), out}, 120000);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
    QCOMPARE(QDir(m_tmp).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
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
    QCOMPARE(QDir(m_tmp).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
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
    QCOMPARE(QDir(m_tmp).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
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
