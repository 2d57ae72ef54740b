// The generated test streams: their layout is what tests of the engine rely on, joining their
// segments gives back the source's pictures, and making them is safe when tests run at once.

#include "MediaProbe.h"
#include "TestStreams.h"
#include "TestTools.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

using namespace TestTools;

class TestTestStreams : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void streams_have_the_documented_layout();
    void segments_merge_to_the_source_frames();
    void big_stream_has_300_segments();
    void two_processes_preparing_at_once_make_the_streams_once();
    void folder_from_another_script_or_half_made_is_made_again();

private:
    QString m_root;
};

void TestTestStreams::initTestCase() {
    m_root = TestStreams::Root();
    QVERIFY2(!m_root.isEmpty(), "test streams could not be made");
}

void TestTestStreams::streams_have_the_documented_layout() {
    QCOMPARE(ReadFile(m_root + "/keys/aes.key").toHex(), QByteArray(TestStreams::AesKeyHex));

    const QStringList master =
        QString::fromLatin1(ReadFile(m_root + "/master.m3u8")).split('\n', Qt::SkipEmptyParts);
    QStringList uris;
    for (const QString &l : master) {
        if (!l.startsWith('#'))
            uris << l;
    }
    QCOMPARE(uris, (QStringList{"v1/index.m3u8", "v2/index.m3u8"}));
    QCOMPARE(MediaProbe::VideoSize(m_root + "/v1/seg0.ts"),
             QSize(TestStreams::V1Width, TestStreams::V1Height));
    QCOMPARE(MediaProbe::VideoSize(m_root + "/v2/seg0.ts"),
             QSize(TestStreams::V2Width, TestStreams::V2Height));
    QCOMPARE(MediaProbe::VideoSize(TestStreams::SourceMedia()),
             QSize(TestStreams::SourceWidth, TestStreams::SourceHeight));

    const QString aes = QString::fromLatin1(ReadFile(m_root + "/aes/index.m3u8"));
    QVERIFY(aes.contains(QRegularExpression("#EXT-X-KEY:METHOD=AES-128,URI=\"/keys/aes.key\"")));

    QStringList mixed;
    for (const QString &l :
         QString::fromLatin1(ReadFile(m_root + "/mixed/index.m3u8")).split('\n')) {
        if (!l.isEmpty() && !l.startsWith('#'))
            mixed << l;
    }
    QCOMPARE(mixed, (QStringList{"seg0.ts", "/mixed/seg1.ts", "@BASE@/mixed/seg2.ts",
                                 "seg3.ts?token=abc&x=1", "seg4.ts", "seg5.ts"}));
    for (int i = 0; i < TestStreams::SegmentCount; ++i) {
        const QString name = QString("/seg%1.ts").arg(i);
        QCOMPARE(ReadFile(m_root + "/mixed" + name), ReadFile(m_root + "/clear" + name));
        QVERIFY(ReadFile(m_root + "/aes" + name) != ReadFile(m_root + "/clear" + name));
    }

    const double d = TestStreams::SourceDuration();
    QVERIFY2(d > 5.5 && d < 7.0, qPrintable(QString::number(d)));
    QVERIFY(MediaProbe::HasVideo(TestStreams::SourceMedia()));
    QVERIFY(MediaProbe::HasAudio(TestStreams::SourceMedia()));
}

void TestTestStreams::segments_merge_to_the_source_frames() {
    // What every end-to-end download test builds on: joining the segments with -c copy gives
    // back the source's pictures, and a different variant does not.
    const QStringList source = MediaProbe::VideoFrameMd5(TestStreams::SourceMedia());
    QVERIFY(source.size() > 100);
    QVERIFY(source.first() != source.last());
    QCOMPARE(MediaProbe::VideoFrameMd5(m_root + "/clear/index.m3u8"), source);

    QTemporaryDir out;
    const QString mp4 = out.filePath("clear.mp4");
    QVERIFY(RunTool("ffmpeg", {"-nostdin", "-v", "error", "-allowed_extensions", "ALL", "-y", "-i",
                               m_root + "/clear/index.m3u8", "-c", "copy", mp4}));
    QCOMPARE(MediaProbe::VideoFrameMd5(mp4), source);
    QVERIFY(MediaProbe::HasAudio(mp4));
    QVERIFY(qAbs(MediaProbe::Duration(mp4) - TestStreams::SourceDuration()) < 0.2);

    const QStringList v1 = MediaProbe::VideoFrameMd5(m_root + "/v1/index.m3u8");
    QCOMPARE(v1.size(), source.size());
    QVERIFY(v1 != source);
    QCOMPARE(MediaProbe::VideoFrameMd5(m_root + "/v2/index.m3u8"), source);
    QCOMPARE(MediaProbe::Duration(out.filePath("missing.mp4")), -1.0);
    QVERIFY(MediaProbe::VideoFrameMd5(out.filePath("missing.mp4")).isEmpty());
}

void TestTestStreams::big_stream_has_300_segments() {
    const QString big = TestStreams::BigRoot();
    QVERIFY(!big.isEmpty());
    int segments = 0;
    for (const QByteArray &line : ReadFile(big + "/big/index.m3u8").split('\n')) {
        if (!line.trimmed().isEmpty() && !line.startsWith('#')) {
            ++segments;
            QVERIFY(QFile::exists(big + "/big/" + QString::fromLatin1(line.trimmed())));
        }
    }
    QCOMPARE(segments, TestStreams::BigSegmentCount);
    // The cached copy is reused, not made again.
    QCOMPARE(TestStreams::BigRoot(), big);
}

void TestTestStreams::two_processes_preparing_at_once_make_the_streams_once() {
    QTemporaryDir parent;
    QVERIFY(parent.isValid());
    const QString dir = parent.filePath("streams");
    QProcess first, second;
    for (QProcess *p : {&first, &second}) {
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QCoreApplication::applicationFilePath(), {"--prepare", dir});
    }
    QStringList outcomes;
    for (QProcess *p : {&first, &second}) {
        QVERIFY(p->waitForFinished(120000));
        QCOMPARE(p->exitCode(), 0);
        outcomes << QString::fromUtf8(p->readAllStandardOutput()).trimmed();
    }
    outcomes.sort();
    QCOMPARE(outcomes, (QStringList{"found " + dir, "made " + dir}));
    QVERIFY(QFile::exists(dir + "/clear/index.m3u8"));
    const QStringList frames = MediaProbe::VideoFrameMd5(dir + "/source.mp4");
    QVERIFY(!frames.isEmpty());
    QCOMPARE(MediaProbe::VideoFrameMd5(dir + "/clear/index.m3u8"), frames);
    // Nothing half-made is left beside the folder.
    QStringList left = QDir(parent.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    left.removeAll("streams.lock");
    QCOMPARE(left, QStringList{"streams"});
}

void TestTestStreams::folder_from_another_script_or_half_made_is_made_again() {
    QTemporaryDir parent;
    const QString dir = parent.filePath("streams");
    bool made = false;
    QCOMPARE(TestStreams::Prepare(dir, false, &made), dir);
    QVERIFY(made);
    QCOMPARE(TestStreams::Prepare(dir, false, &made), dir);
    QVERIFY(!made);

    QVERIFY(WriteFile(dir + "/.stamp", "made by an older script"));
    QVERIFY(WriteFile(dir + "/leftover.txt", "old"));
    QCOMPARE(TestStreams::Prepare(dir, false, &made), dir);
    QVERIFY(made);
    QVERIFY(!QFile::exists(dir + "/leftover.txt"));

    QVERIFY(QFile::remove(dir + "/.stamp"));  // as after a run killed half-way
    QCOMPARE(TestStreams::Prepare(dir, false, &made), dir);
    QVERIFY(made);
    QVERIFY(QFile::exists(dir + "/aes/index.m3u8"));
}

// "--prepare DIR" makes this program a helper for the concurrency case: it prepares DIR and
// prints "made DIR" or "found DIR".
int main(int argc, char **argv) {
    if (argc == 3 && qstrcmp(argv[1], "--prepare") == 0) {
        QCoreApplication app(argc, argv);
        bool made = false;
        const QString dir = TestStreams::Prepare(QString::fromLocal8Bit(argv[2]), false, &made);
        if (dir.isEmpty())
            return 1;
        std::printf("%s %s\n", made ? "made" : "found", qPrintable(dir));
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestTestStreams test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_test_streams.moc"
