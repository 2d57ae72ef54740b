// korvi-get on streams as video sites serve them, run as a real process against the local test
// server with the real aria2c and ffmpeg.

#include "HlsTestServer.h"
#include "MediaProbe.h"
#include "TestStreams.h"
#include "TestTools.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestKorviGetSite : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void segments_behind_an_image_merge_to_the_source_frames_data();
    void segments_behind_an_image_merge_to_the_source_frames();

private:
    QTemporaryDir m_base;
    QString m_root;
    HlsTestServer m_server;
};

void TestKorviGetSite::initTestCase() {
    QVERIFY(m_base.isValid());
    QVERIFY2(!TestStreams::Root().isEmpty(), "test streams were not generated");
    m_root = TestStreams::Root();
    TestTools::IsolateEnvironment(m_base.path());
    QVERIFY2(m_server.start(m_root), qPrintable(m_server.errorString()));
    // A folder of ffmpeg alone, for runs that fetch one segment after another without aria2c.
    QVERIFY(QDir().mkpath(m_base.filePath("only-ffmpeg")));
    QVERIFY(QFile::link(QStandardPaths::findExecutable("ffmpeg"),
                        m_base.filePath("only-ffmpeg/ffmpeg")));
}

void TestKorviGetSite::segments_behind_an_image_merge_to_the_source_frames_data() {
    QTest::addColumn<QString>("stream");
    QTest::addColumn<bool>("withAria2");
    QTest::newRow("png") << "disguised-png" << true;
    QTest::newRow("jpeg") << "disguised-jpg" << true;
    QTest::newRow("png before the ciphertext") << "disguised-aes" << true;
    QTest::newRow("png inside the plaintext") << "disguised-aes-inside" << true;
    QTest::newRow("png, without aria2c") << "disguised-png" << false;
    QTest::newRow("png inside the plaintext, without aria2c") << "disguised-aes-inside" << false;
}

void TestKorviGetSite::segments_behind_an_image_merge_to_the_source_frames() {
    QFETCH(QString, stream);
    QFETCH(bool, withAria2);
    // Served as they are, the segments do not start like MPEG-TS.
    QVERIFY(!TestTools::ReadFile(m_root + "/" + stream + "/seg0.png").startsWith('\x47'));
    const QByteArray path = qgetenv("PATH");
    if (!withAria2)
        qputenv("PATH", m_base.filePath("only-ffmpeg").toUtf8());
    const QString out = m_base.filePath(QString(QTest::currentDataTag()) + ".mp4");
    const bool ran = TestTools::RunTool(KORVI_BINARY_DIR "/korvi-get",
                                        {m_server.url("/" + stream + "/index.m3u8"), out}, 120000);
    qputenv("PATH", path);
    QVERIFY(ran);
    QCOMPARE(MediaProbe::StreamKinds(out), QStringList({"video", "audio"}));
    QVERIFY(qAbs(MediaProbe::Duration(out) - TestStreams::SourceDuration()) <= 1.0);
    QCOMPARE(MediaProbe::VideoFrameMd5(out), MediaProbe::VideoFrameMd5(TestStreams::SourceMedia()));
}

QTEST_GUILESS_MAIN(TestKorviGetSite)
#include "tst_korvi_get_site.moc"
