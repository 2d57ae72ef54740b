// korvi-get recording a live playlist that the local test server grows one segment a second,
// run as a real process with the real aria2c and ffmpeg.

#include "HlsTestServer.h"
#include "MediaProbe.h"
#include "TestStreams.h"
#include "TestTools.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

using Result = TestTools::Captured;
using TestTools::Finish;

// Segments the last answer of the live playlist listed ("200 live=N" in the server's log).
int LastListed(const HlsTestServer &server) {
    int listed = -1;
    const QRegularExpression live(QStringLiteral(" live=(\\d+)$"));
    for (const QString &line : server.requestLog()) {
        const QRegularExpressionMatch m = live.match(line);
        if (m.hasMatch())
            listed = m.captured(1).toInt();
    }
    return listed;
}

}  // namespace

class TestKorviGetLive : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void recording_ends_with_the_playlist_data();
    void recording_ends_with_the_playlist();
    void ctrl_c_ends_the_recording_and_merges_it();
    void segments_that_leave_the_window_are_counted_as_missed();
    void bad_live_duration_prints_usage_data();
    void bad_live_duration_prints_usage();

private:
    bool StartLive(HlsTestServer &server, const QStringList &liveArgs);
    void Start(QProcess &p, const QStringList &args);

    QTemporaryDir m_base;
};

void TestKorviGetLive::initTestCase() {
    QVERIFY(m_base.isValid());
    QVERIFY2(!TestStreams::Root().isEmpty(), "test streams were not generated");
    TestTools::IsolateEnvironment(m_base.path());
}

bool TestKorviGetLive::StartLive(HlsTestServer &server, const QStringList &liveArgs) {
    HlsServerOptions options;
    options.maxSeconds = 120;
    options.extraArgs = QStringList{"--live", "^/live/rec\\.m3u8$=/livesrc/index.m3u8"} + liveArgs;
    return server.start(TestStreams::Root(), options);
}

void TestKorviGetLive::Start(QProcess &p, const QStringList &args) {
    p.start(KORVI_BINARY_DIR "/korvi-get", args);
    QVERIFY(p.waitForStarted(5000));
}

void TestKorviGetLive::recording_ends_with_the_playlist_data() {
    QTest::addColumn<QStringList>("liveArgs");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<double>("seconds");  // what the output must last; 0: all that was listed
    QTest::newRow("end-list after 8 s")
        << QStringList{"--live-start", "3", "--live-end-s", "8"} << QStringList() << 0.0;
    QTest::newRow("set length") << QStringList{"--live-start", "1"}
                                << QStringList{"--live-duration", "3s"} << 3.0;
    // All 20 segments listed within a second, then no end-list tag and no change: ended after
    // the quiet limit of 30 s.
    QTest::newRow("unchanged 30 s") << QStringList{"--live-interval-s", "0.05"} << QStringList()
                                    << double(TestStreams::LiveSourceSegmentCount);
}

// One segment a second for 8 s, then the end-list tag: what was listed is what is merged.
void TestKorviGetLive::recording_ends_with_the_playlist() {
    QFETCH(QStringList, liveArgs);
    QFETCH(QStringList, options);
    QFETCH(double, seconds);
    HlsTestServer server;
    QVERIFY2(StartLive(server, liveArgs), qPrintable(server.errorString()));
    const QString out = m_base.filePath(QTest::currentDataTag() + QString(".mp4"));
    QProcess p;
    Start(p, options + QStringList{server.url("/live/rec.m3u8"), out});
    const Result r = Finish(p, 90000);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("录制中 00:00:0")), qPrintable(r.out));
    const double expected = seconds > 0 ? seconds : double(LastListed(server));
    QVERIFY2(qAbs(MediaProbe::Duration(out) - expected) <= 1.0,
             qPrintable(QString("%1 s, expected %2").arg(MediaProbe::Duration(out)).arg(expected)));
    QVERIFY(MediaProbe::HasVideo(out));
}

void TestKorviGetLive::ctrl_c_ends_the_recording_and_merges_it() {
    HlsTestServer server;
    QVERIFY2(StartLive(server, {"--live-start", "3"}), qPrintable(server.errorString()));
    const QString out = m_base.filePath("interrupted.mp4");
    QProcess p;
    Start(p, {server.url("/live/rec.m3u8"), out});
    QTest::qWait(5000);
    QCOMPARE(p.state(), QProcess::Running);
    ::kill(pid_t(p.processId()), SIGINT);
    const Result r = Finish(p, 60000);
    QCOMPARE(r.exitCode, 0);
    const int listed = LastListed(server);
    QVERIFY(listed >= 6);
    QVERIFY2(qAbs(MediaProbe::Duration(out) - listed) <= 1.0,
             qPrintable(QString("%1 s, %2 listed").arg(MediaProbe::Duration(out)).arg(listed)));
}

// A window of two segments that moves four segments a second: every read finds some gone.
void TestKorviGetLive::segments_that_leave_the_window_are_counted_as_missed() {
    HlsTestServer server;
    QVERIFY2(StartLive(server, {"--live-start", "2", "--live-interval-s", "0.25", "--live-window",
                                "2", "--live-end-s", "3"}),
             qPrintable(server.errorString()));
    const QString out = m_base.filePath("window.mp4");
    QProcess p;
    Start(p, {server.url("/live/rec.m3u8"), out});
    const Result r = Finish(p, 90000);
    QCOMPARE(r.exitCode, 0);
    const QRegularExpressionMatch missed =
        QRegularExpression(QStringLiteral("录制时有 (\\d+) 个分段")).match(r.err);
    QVERIFY2(missed.hasMatch() && missed.captured(1).toInt() > 0, qPrintable(r.err));
    // Recorded and missed together are every segment listed from the first read to the end.
    const double recorded = MediaProbe::Duration(out);
    QVERIFY2(qAbs(recorded + missed.captured(1).toInt() - LastListed(server)) <= 1.0,
             qPrintable(QString("%1 s, %2").arg(recorded).arg(r.err)));
    QVERIFY(MediaProbe::HasVideo(out));
}

void TestKorviGetLive::bad_live_duration_prints_usage_data() {
    QTest::addColumn<QString>("length");
    QTest::newRow("unknown unit") << "3d";
    QTest::newRow("zero") << "0";
    QTest::newRow("negative") << "-5";
    QTest::newRow("missing") << QString();
}

void TestKorviGetLive::bad_live_duration_prints_usage() {
    QFETCH(QString, length);
    QStringList args{"http://127.0.0.1:1/a.m3u8", "o", "--live-duration"};
    if (!length.isNull())
        args << length;
    QProcess p;
    Start(p, args);
    const Result r = Finish(p, 10000);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains("--live-duration LENGTH"), qPrintable(r.err));
}

QTEST_GUILESS_MAIN(TestKorviGetLive)
#include "tst_korvi_get_live.moc"
