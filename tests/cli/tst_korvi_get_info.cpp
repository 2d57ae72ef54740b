// korvi-get --info and --from-curl, run as a real process against the local test server.

#include "HlsTestServer.h"
#include "MediaProbe.h"
#include "TestStreams.h"
#include "TestTools.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

using Result = TestTools::Captured;

Result Run(const QStringList &args, const QString &tmp, const QByteArray &input = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", tmp);
    env.insert("no_proxy", "*");
    p.setProcessEnvironment(env);
    p.start(KORVI_BINARY_DIR "/korvi-get", args);
    if (!p.waitForStarted(5000))
        return {};
    p.write(input);
    p.closeWriteChannel();
    return TestTools::Finish(p, 120000);
}

// Segment count and total duration of a served media playlist, read from its file.
QPair<int, double> Extinf(const QString &file) {
    QPair<int, double> sum{0, 0};
    for (const QByteArray &line : TestTools::ReadFile(file).split('\n')) {
        if (line.startsWith("#EXTINF:")) {
            ++sum.first;
            sum.second += line.mid(8).split(',').first().toDouble();
        }
    }
    return sum;
}

}  // namespace

class TestKorviGetInfo : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void info_describes_a_master_and_the_variant_it_takes();
    void info_describes_an_aes_media_playlist();
    void from_curl_on_standard_input_downloads_with_its_headers();

private:
    QTemporaryDir m_base;
    QString m_root;
    HlsTestServer m_server;  // the test streams, with this test's master beside them
};

void TestKorviGetInfo::initTestCase() {
    QVERIFY(m_base.isValid());
    QVERIFY2(!TestStreams::Root().isEmpty(), "test streams were not generated");
    m_root = TestStreams::Root();
    QVERIFY2(m_server.start(m_root), qPrintable(m_server.errorString()));
}

void TestKorviGetInfo::info_describes_a_master_and_the_variant_it_takes() {
    // Served by a server of its own, pointing at the shared streams.
    const QString own = m_base.filePath("own");
    const QString s = m_server.baseUrl();
    QVERIFY(TestTools::WriteFile(
        own + "/master.m3u8",
        ("#EXTM3U\n"
         "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",NAME=\"English\",LANGUAGE=\"en\",DEFAULT=YES,"
         "URI=\"" +
         s +
         "/alt/audio.m3u8\"\n"
         "#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID=\"subs\",NAME=\"中文\",LANGUAGE=\"zh\","
         "URI=\"" +
         s +
         "/subs/zh.m3u8\"\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=160x90,CODECS=\"avc1.42c00d\","
         "AUDIO=\"aud\",SUBTITLES=\"subs\"\n" +
         s +
         "/v1/index.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=900000,RESOLUTION=320x180,CODECS=\"avc1.42c01e\","
         "AUDIO=\"aud\",SUBTITLES=\"subs\"\n" +
         s +
         "/v2/index.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=600000,RESOLUTION=240x136,CODECS=\"avc1.42c015\","
         "AUDIO=\"aud\",SUBTITLES=\"subs\"\n" +
         s + "/v3/index.m3u8\n")
            .toUtf8()));
    HlsTestServer server;
    QVERIFY(server.start(own));
    const Result json = Run(
        {"--info", "--json", "--variant", "highest", server.url("/master.m3u8")}, m_base.path());
    QVERIFY2(json.exitCode == 0, qPrintable(json.err));
    const QJsonObject info = QJsonDocument::fromJson(json.out.toUtf8()).object();
    QVERIFY(info.value("master").toBool());
    const QJsonArray variants = info.value("variants").toArray();
    QCOMPARE(variants.size(), 3);
    const QStringList widths{"160x90", "320x180", "240x136"};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject v = variants.at(i).toObject();
        QCOMPARE(v.value("resolution").toString(), widths[i]);
        QCOMPARE(v.value("address").toString(), s + QString("/v%1/index.m3u8").arg(i + 1));
        QCOMPARE(v.value("audio").toString(), QString("aud"));
        QCOMPARE(v.value("subtitles").toString(), QString("subs"));
        QCOMPARE(v.value("chosen").toBool(), i == 1);
    }
    QCOMPARE(variants.at(1).toObject().value("bandwidth").toInt(), 900000);
    QCOMPARE(variants.at(1).toObject().value("codecs").toString(), QString("avc1.42c01e"));
    const QJsonArray renditions = info.value("renditions").toArray();
    QCOMPARE(renditions.size(), 2);
    QCOMPARE(renditions.at(1).toObject().value("name").toString(), QString("中文"));
    QCOMPARE(renditions.at(1).toObject().value("type").toString(), QString("SUBTITLES"));
    QCOMPARE(info.value("audio").toString(), s + "/alt/audio.m3u8");
    const QJsonObject media = info.value("media").toObject();
    const auto served = Extinf(m_root + "/v2/index.m3u8");
    QCOMPARE(media.value("segments").toInt(), served.first);
    QVERIFY(std::fabs(media.value("duration").toDouble() - served.second) < 1e-6);
    QVERIFY(!media.value("live").toBool());
    QVERIFY(media.value("encryption").toArray().isEmpty());
    // No segment was asked for.
    QCOMPARE(m_server.countRequests("\\.ts$"), 0);

    const Result text = Run({"--info", server.url("/master.m3u8")}, m_base.path());
    QVERIFY2(text.exitCode == 0, qPrintable(text.err));
    QVERIFY2(text.out.contains("* 1. 带宽 300000  分辨率 160x90  编码 avc1.42c00d  音频组 aud  "
                               "字幕组 subs"),
             qPrintable(text.out));
    QVERIFY(text.out.contains("  2. 带宽 900000"));
    QVERIFY(
        text.out.contains(QString("分段数: %1\n").arg(Extinf(m_root + "/v1/index.m3u8").first)));
    QVERIFY(text.out.contains("SUBTITLES 组 subs: 中文  语言 zh"));
}

void TestKorviGetInfo::info_describes_an_aes_media_playlist() {
    const Result r = Run({"--info", m_server.url("/aes/index.m3u8")}, m_base.path());
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    const auto served = Extinf(m_root + "/aes/index.m3u8");
    QVERIFY2(r.out.contains(QString("分段数: %1\n总时长: %2 秒\n加密: AES-128\n密钥数: 1\n"
                                    "初始化段: 0\n字节范围分段: 0\n不连续点: 0\n直播: 否\n")
                                .arg(served.first)
                                .arg(served.second, 0, 'f', 3)),
             qPrintable(r.out));
    const Result json = Run({"--info", "--json", m_server.url("/live/index.m3u8")}, m_base.path());
    QVERIFY(QJsonDocument::fromJson(json.out.toUtf8())["media"]["live"].toBool());
    QCOMPARE(m_server.countRequests("\\.(ts|key)$"), 0);
}

void TestKorviGetInfo::from_curl_on_standard_input_downloads_with_its_headers() {
    HlsTestServer server;
    HlsServerOptions options;
    options.requireHeader = "Referer: http://127.0.0.1/player";
    options.extraArgs << "--also-require-header"
                      << "Cookie: sid=k1";
    QVERIFY(server.start(m_root, options));
    const QString out = m_base.filePath("curl.mp4");
    const QByteArray request = "curl '" + server.url("/aes/index.m3u8").toUtf8() +
                               "' \\\n  -e 'http://127.0.0.1/player' -b 'sid=k1' --compressed\n";
    const Result r = Run({"--from-curl", "-", out}, m_base.path(), request);
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QVERIFY(MediaProbe::HasVideo(out));
    QVERIFY(std::fabs(MediaProbe::Duration(out) - TestStreams::SourceDuration()) < 0.5);
    // The server answers nothing without both headers: --info reads the playlist with them too.
    const Result info = Run({"--info", "--from-curl", "-"}, m_base.path(), request);
    QVERIFY2(info.out.contains("加密: AES-128\n"), qPrintable(info.err));

    const Result refused = Run({"--from-curl", "-", out}, m_base.path(),
                               "curl 'http://127.0.0.1/x.m3u8' --data 'a=1'");
    QCOMPARE(refused.exitCode, 2);
    QVERIFY(refused.err.contains("--data"));
}

QTEST_GUILESS_MAIN(TestKorviGetInfo)
#include "tst_korvi_get_info.moc"
