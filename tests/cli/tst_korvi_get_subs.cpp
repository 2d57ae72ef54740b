// Subtitles through korvi-get: a master whose variant has two WebVTT renditions, downloaded by
// the real aria2c and merged by the real ffmpeg from the local test server.

#include "HlsTestServer.h"
#include "MediaProbe.h"
#include "TestStreams.h"
#include "TestTools.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

class TestKorviGetSubs : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void renditions_become_mov_text_tracks_with_cues_at_their_time_data();
    void renditions_become_mov_text_tracks_with_cues_at_their_time();
    void no_subs_merges_as_without_subtitles();
    void a_broken_rendition_is_left_out_and_the_video_kept();

private:
    TestTools::Captured Get(const QStringList &args) const;
    // "codec,language,name" of each subtitle track.
    static QStringList SubtitleTracks(const QString &file);
    // One subtitle track of the file as SubRip text; empty on failure.
    QString Srt(const QString &file, int track) const;

    QTemporaryDir m_base;
    HlsTestServer m_server;
};

void TestKorviGetSubs::initTestCase() {
    QVERIFY(m_base.isValid());
    QVERIFY2(!TestStreams::Root().isEmpty(), "test streams were not generated");
    QVERIFY2(m_server.start(TestStreams::Root()), qPrintable(m_server.errorString()));
}

TestTools::Captured TestKorviGetSubs::Get(const QStringList &args) const {
    return TestTools::RunCapturing(KORVI_BINARY_DIR "/korvi-get", args,
                                   {"TMPDIR=" + m_base.path(), "no_proxy=*"});
}

QStringList TestKorviGetSubs::SubtitleTracks(const QString &file) {
    const TestTools::Captured probe = TestTools::RunCapturing(
        "ffprobe", {"-v", "error", "-select_streams", "s", "-show_entries",
                    "stream=codec_name:stream_tags=language,handler_name", "-of", "csv=p=0", file});
    return probe.out.split('\n', Qt::SkipEmptyParts);
}

QString TestKorviGetSubs::Srt(const QString &file, int track) const {
    const QString srt = m_base.filePath(QString("track%1.srt").arg(track));
    if (!TestTools::RunTool("ffmpeg", {"-nostdin", "-v", "error", "-y", "-i", file, "-map",
                                       QString("0:s:%1").arg(track), srt}))
        return QString();
    return QString::fromUtf8(TestTools::ReadFile(srt)).remove('\r');
}

void TestKorviGetSubs::renditions_become_mov_text_tracks_with_cues_at_their_time_data() {
    QTest::addColumn<QString>("master");
    QTest::newRow("vod") << "/subs/master.m3u8";
    // A live video with subtitles is taken as the snapshot it lists, subtitles kept.
    QTest::newRow("live") << "/subs/live.m3u8";
}

void TestKorviGetSubs::renditions_become_mov_text_tracks_with_cues_at_their_time() {
    QFETCH(QString, master);
    const QString out = m_base.filePath("subs.mp4");
    const TestTools::Captured run = Get({m_server.url(master), out});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(SubtitleTracks(out), QStringList({"mov_text,eng,English", "mov_text,zho,中文"}));
    QVERIFY(std::fabs(MediaProbe::StreamDuration(out, "v") - TestStreams::SourceDuration()) < 1.0);
    // Each English segment has a clock of its own, ten minutes ahead of the video's; the cue
    // both segments 2 and 3 carry is there once.
    const QString english = Srt(out, 0);
    QVERIFY2(english.contains("00:00:02,500 --> 00:00:02,900\nEnglish 2\n"), qPrintable(english));
    QVERIFY2(english.contains("00:00:05,500 --> 00:00:05,900\nEnglish 5\n"), qPrintable(english));
    QCOMPARE(english.count("Across"), 1);
    const QString chinese = Srt(out, 1);
    QVERIFY2(chinese.contains("00:00:03,200 --> 00:00:03,400\n中文 3\n"), qPrintable(chinese));
}

void TestKorviGetSubs::no_subs_merges_as_without_subtitles() {
    const QString out = m_base.filePath("nosubs.mp4");
    const TestTools::Captured run =
        Get({"--no-subs", "--verbose", m_server.url("/subs/master.m3u8"), out});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(MediaProbe::StreamKinds(out), QStringList({"video", "audio"}));
    const QString verbose = run.out + run.err;
    QVERIFY(verbose.contains("ffmpeg") && !verbose.contains("-map"));
    QVERIFY(!verbose.contains("/subs/en/"));
}

void TestKorviGetSubs::a_broken_rendition_is_left_out_and_the_video_kept() {
    // Its segment 2 is a TS file: never WebVTT, however often it is fetched.
    const QString out = m_base.filePath("broken.mp4");
    const TestTools::Captured run = Get({m_server.url("/subs/broken.m3u8"), out});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(run.err.contains("中文"), qPrintable(run.err));
    QCOMPARE(SubtitleTracks(out), QStringList({"mov_text,eng,English"}));
    QVERIFY(std::fabs(MediaProbe::StreamDuration(out, "v") - TestStreams::SourceDuration()) < 1.0);
}

QTEST_GUILESS_MAIN(TestKorviGetSubs)
#include "tst_korvi_get_subs.moc"
