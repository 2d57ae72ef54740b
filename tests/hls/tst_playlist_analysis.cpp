// The task's playlist analysis (served and local playlists), its output and work-folder rules,
// and the full-URL export.

#include "EngineFixture.h"
#include "HlsTestServer.h"
#include "TestStreams.h"
#include "hls/TM3u8Class.h"
#include "support/FileUtils.h"
#include "support/TextUtils.h"
#include "support/WorkFolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace EngineFixture;

namespace {

QByteArray ReadAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray CrLf(const QStringList &lines) {
    QByteArray out;
    for (const QString &line : lines)
        out += line.toUtf8() + "\r\n";
    return out;
}

QStringList SegmentUrls(const TM3u8 &task) {
    QStringList urls;
    for (const SegmentRec &s : task.Segments)
        urls << s.Url;
    return urls;
}

QStringList LocalNames(const TM3u8 &task) {
    QStringList names;
    for (const SegmentRec &s : task.Segments)
        names << s.LocalName;
    return names;
}

}  // namespace

class TestPlaylistAnalysis : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void output_name_rules_data();
    void output_name_rules();
    void same_address_reuses_and_empties_its_work_folder();
    void empty_address_changes_nothing();

    void mixed_segment_lines_resolve_against_the_playlist();
    void example_playlist_is_rewritten_line_for_line();
    void master_playlist_takes_its_first_variant();
    void key_address_is_made_absolute();
    void key_lines_without_a_key_switch_nothing_on();
    void playlist_leading_back_to_itself_is_invalid();
    void html_page_is_invalid();
    void playlist_without_segments_is_invalid_and_its_folder_goes();

    void local_playlist_keeps_only_absolute_lines();
    void local_width_follows_the_number_of_lines();
    void empty_local_playlist_is_invalid();
    void missing_local_file_is_invalid();

    void export_of_a_master_saves_the_first_variant_absolute();
    void export_makes_the_key_absolute();
    void export_of_an_absolute_playlist_only_trims();
    void failed_export_leaves_no_file();

private:
    QString Url(const QString &path) const { return m_server.url(path); }
    bool Analyse(TM3u8 &task, const QString &url, const QString &headers = QString());

    QTemporaryDir m_base;
    QString m_root;
    HlsTestServer m_server;
};

void TestPlaylistAnalysis::initTestCase() {
    QVERIFY(m_base.isValid());
    IsolateEnvironment(m_base.path());
    QVERIFY2(!TestStreams::Root().isEmpty(), "test streams were not generated");
    m_root = m_base.filePath("www");
    QVERIFY(CopyTree(TestStreams::Root(), m_root));
    QVERIFY(WriteFile(m_root + "/example/list.m3u8",
                      "#EXTM3U\n#EXT-X-TARGETDURATION:1\n\n"
                      "#EXT-X-KEY:METHOD=AES-128,URI=\"/keys/aes.key\",IV=0x01\n"
                      "  #EXTINF:1.0,\nseg0.ts?sig=a/b  \n\n#EXTINF:1.0,\n"
                      "@BASE@/clear/seg1.ts\n#EXT-X-ENDLIST\n"));
    QVERIFY(WriteFile(m_root + "/keyless/index.m3u8",
                      "#EXTM3U\n#EXT-X-KEY:METHOD=NONE\n#EXT-X-KEY:METHOD=AES-128\n"
                      "#EXT-X-KEY:METHOD=NONE,URI=\"/keys/aes.key\"\n#EXTINF:1.0,\n"
                      "/clear/seg0.ts\n#EXT-X-ENDLIST\n"));
    QVERIFY(WriteFile(m_root + "/loop/index.m3u8",
                      "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nindex.m3u8\n"));
    QVERIFY(WriteFile(m_root + "/bad/page.m3u8",
                      "<!DOCTYPE html>\n<html><body>#EXTM3U</body></html>\n"));
    QVERIFY(WriteFile(m_root + "/empty/index.m3u8", "#EXTM3U\n#EXT-X-ENDLIST\n"));
    QVERIFY(WriteFile(m_root + "/absolute/index.m3u8",
                      "#EXTM3U\n\n   #EXT-X-TARGETDURATION:1  \n#EXTINF:1.0,\n"
                      "  @BASE@/clear/seg0.ts\n\n#EXTINF:1.0,\n@BASE@/clear/seg1.ts\n"
                      "#EXT-X-ENDLIST\n"));
    QVERIFY2(m_server.start(m_root), qPrintable(m_server.errorString()));
}

bool TestPlaylistAnalysis::Analyse(TM3u8 &task, const QString &url, const QString &headers) {
    task.SetUrl(url);
    task.SetOutput(m_base.filePath("out.mp4"));
    task.Headers = headers;
    task.Running = true;
    return task.AnalyseM3u8(task.Url, task.Headers);
}

void TestPlaylistAnalysis::output_name_rules_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("outFile");
    QTest::addColumn<QString>("outName");
    QTest::newRow("ts gets mp4 appended") << "/v/clip.ts"
                                          << "/v/clip.ts.mp4"
                                          << "clip";
    QTest::newRow("no extension") << "/v/clip"
                                  << "/v/clip.mp4"
                                  << "clip";
    QTest::newRow("upper-case MP4 kept") << "/v/Clip.MP4"
                                         << "/v/Clip.MP4"
                                         << "Clip";
    QTest::newRow("dot only in the folder") << "/v/a.b/clip"
                                            << "/v/a.b/clip.mp4"
                                            << "clip";
    QTest::newRow("two dots") << "/v/a.b.mp4"
                              << "/v/a.b.mp4"
                              << "a.b";
}

void TestPlaylistAnalysis::output_name_rules() {
    QFETCH(QString, path);
    QFETCH(QString, outFile);
    QFETCH(QString, outName);
    TM3u8 task;
    task.SetOutput(path);
    QCOMPARE(task.OutFile, outFile);
    QCOMPARE(task.OutName, outName);
}

void TestPlaylistAnalysis::same_address_reuses_and_empties_its_work_folder() {
    TM3u8 task;
    const QString url = Url("/clear/index.m3u8");
    task.SetUrl("  " + url + " ");
    QCOMPARE(task.Url, url);
    QCOMPARE(task.WorkId, Crc32Hex(url));
    QCOMPARE(task.WorkDir, GetTempDir() + "/" + task.WorkId);
    QCOMPARE(task.IndexFile, task.WorkDir + "/index.m3u8");
    QVERIFY(WriteFile(task.WorkDir + "/001.ts", "left over"));
    task.Headers = "A: 1";

    {
        // While the first holds the folder's lock, a second run of the address touches nothing
        // and fails at once.
        TM3u8 other;
        TaskEvents events(other);
        other.SetUrl(url);
        QCOMPARE(other.WorkDir, task.WorkDir);
        other.Start();
        QCOMPARE(events.errors, QStringList{QStringLiteral("另一进程正在下载此地址")});
        QVERIFY(QFile::exists(task.WorkDir + "/001.ts"));
    }
    task.SetUrl(url);
    QVERIFY(task.Headers.isEmpty());
    QCOMPARE(Entries(task.WorkDir), QStringList{WorkLockFileName(task.WorkId)});
}

void TestPlaylistAnalysis::empty_address_changes_nothing() {
    TM3u8 task;
    task.SetUrl(Url("/clear/index.m3u8"));
    const QString workDir = task.WorkDir;
    task.SetUrl("   ");
    QCOMPARE(task.Url, Url("/clear/index.m3u8"));
    QCOMPARE(task.WorkDir, workDir);
}

void TestPlaylistAnalysis::mixed_segment_lines_resolve_against_the_playlist() {
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(Analyse(task, Url("/mixed/index.m3u8")));
    const QString b = m_server.baseUrl();
    QCOMPARE(SegmentUrls(task),
             QStringList({b + "/mixed/seg0.ts", b + "/mixed/seg1.ts", b + "/mixed/seg2.ts",
                          b + "/mixed/seg3.ts?token=abc&x=1", b + "/mixed/seg4.ts",
                          b + "/mixed/seg5.ts"}));
    // 18 non-blank lines: two digits.
    QCOMPARE(LocalNames(task), QStringList({"01.ts", "02.ts", "03.ts", "04.ts", "05.ts", "06.ts"}));
    QVERIFY(task.KeyUrl.isEmpty());
    QCOMPARE(events.progress.size(), 1);
    QCOMPARE(events.progress.first().second, QStringLiteral("分析中"));
    QCOMPARE(events.Ends(), 0);
    // The probe of the first segment is gone again.
    QCOMPARE(Entries(GetTempDir()).filter(".m3u8"), QStringList());
}

void TestPlaylistAnalysis::example_playlist_is_rewritten_line_for_line() {
    TM3u8 task;
    QVERIFY(Analyse(task, Url("/example/list.m3u8?x=1/2")));
    const QString b = m_server.baseUrl();
    QCOMPARE(
        ReadAll(task.IndexFile),
        CrLf({"#EXTM3U", "#EXT-X-TARGETDURATION:1", "#EXT-X-MEDIA-SEQUENCE:0",
              "#EXT-X-KEY:METHOD=AES-128,URI=\"key.key\",IV=0x00000000000000000000000000000001",
              "#EXTINF:1.0,", "1.ts", "#EXTINF:1.0,", "2.ts", "#EXT-X-ENDLIST"}));
    QCOMPARE(task.KeyUrl, b + "/keys/aes.key");
    QCOMPARE(SegmentUrls(task),
             QStringList({b + "/example/seg0.ts?sig=a/b", b + "/clear/seg1.ts"}));
}

void TestPlaylistAnalysis::master_playlist_takes_its_first_variant() {
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(Analyse(task, Url("/master.m3u8")));
    QCOMPARE(int(task.Segments.size()), TestStreams::SegmentCount);
    QVERIFY(task.Segments.front().Url.startsWith(m_server.baseUrl() + "/v1/"));
    const QByteArray index = ReadAll(task.IndexFile);
    QVERIFY(!index.contains("EXT-X-STREAM-INF"));
    QVERIFY(index.contains("#EXTINF"));
    QCOMPARE(events.progress.size(), 1);
}

void TestPlaylistAnalysis::key_address_is_made_absolute() {
    TM3u8 task;
    QVERIFY(Analyse(task, Url("/aes/index.m3u8")));
    QCOMPARE(task.KeyUrl, m_server.baseUrl() + "/keys/aes.key");
    QVERIFY(ReadAll(task.IndexFile).contains("URI=\"key.key\""));
}

void TestPlaylistAnalysis::key_lines_without_a_key_switch_nothing_on() {
    TM3u8 task;
    QVERIFY(Analyse(task, Url("/keyless/index.m3u8")));
    QVERIFY(task.KeyUrl.isEmpty());
    QCOMPARE(ReadAll(task.IndexFile),
             CrLf({"#EXTM3U", "#EXT-X-TARGETDURATION:1", "#EXT-X-MEDIA-SEQUENCE:0", "#EXTINF:1.0,",
                   "1.ts", "#EXT-X-ENDLIST"}));
}

void TestPlaylistAnalysis::playlist_leading_back_to_itself_is_invalid() {
    TM3u8 task;
    TaskEvents events(task);
    const int before = m_server.countRequests("^/loop/index\\.m3u8$");
    QVERIFY(!Analyse(task, Url("/loop/index.m3u8")));
    QCOMPARE(events.errors, QStringList{"m3u8无效"});
    QVERIFY(!task.Running);
    QCOMPARE(events.progress.size(), 1);
    // One fetch per level, for the first fetch and eight nested levels: a master's variant
    // needs no probe.
    QCOMPARE(m_server.countRequests("^/loop/index\\.m3u8$") - before,
             TM3u8::MaxPlaylistNesting + 1);
}

void TestPlaylistAnalysis::html_page_is_invalid() {
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(!Analyse(task, Url("/bad/page.m3u8")));
    QCOMPARE(events.errors, QStringList{"m3u8无效"});
    QVERIFY(!task.Running);
    QVERIFY(task.Segments.empty());
}

void TestPlaylistAnalysis::playlist_without_segments_is_invalid_and_its_folder_goes() {
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(!Analyse(task, Url("/empty/index.m3u8")));
    QCOMPARE(events.errors, QStringList{"m3u8无效"});
    QVERIFY(!task.Running);
    QVERIFY(!QFileInfo::exists(task.WorkDir));
}

void TestPlaylistAnalysis::local_playlist_keeps_only_absolute_lines() {
    const QString b = m_server.baseUrl();
    const QString local = m_base.filePath("local/list.m3u8");
    QVERIFY(WriteFile(local, ("#EXTM3U\r\n#EXT-X-KEY:METHOD=AES-128,URI=\"/keys/aes.key\"\r\n"
                              "#EXTINF:1.0,\r\nseg0.ts\r\n#EXTINF:1.0,\r\n/clear/seg1.ts\r\n"
                              "#EXTINF:1.0,\r\n  " +
                              b + "/clear/seg2.ts  \r\n#EXT-X-ENDLIST\r\n")
                                 .toUtf8()));
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(Analyse(task, local));
    QCOMPARE(SegmentUrls(task), QStringList{b + "/clear/seg2.ts"});
    QCOMPARE(task.KeyUrl, QStringLiteral("/keys/aes.key"));
    QCOMPARE(ReadAll(task.IndexFile),
             CrLf({"#EXTM3U", "#EXT-X-TARGETDURATION:1", "#EXT-X-MEDIA-SEQUENCE:0",
                   "#EXT-X-KEY:METHOD=AES-128,URI=\"key.key\"", "#EXTINF:1.0,", "1.ts",
                   "#EXT-X-ENDLIST"}));
    QVERIFY(ReadAll(local).contains("seg0.ts"));  // the source file is not touched
    QCOMPARE(events.Ends(), 0);
}

void TestPlaylistAnalysis::local_width_follows_the_number_of_lines() {
    QStringList lines{"#EXTM3U", "#EXT-X-TARGETDURATION:1"};
    for (int i = 0; i < 5; ++i)
        lines << "#EXTINF:1.0," << m_server.url(QStringLiteral("/clear/seg%1.ts").arg(i));
    lines << "#EXT-X-ENDLIST";
    QCOMPARE(lines.size(), 13);
    lines.removeAt(1);
    const QString local = m_base.filePath("local/twelve.m3u8");
    QVERIFY(WriteFile(local, lines.join("\n").toUtf8()));
    TM3u8 task;
    QVERIFY(Analyse(task, local));
    QCOMPARE(LocalNames(task), QStringList({"01.ts", "02.ts", "03.ts", "04.ts", "05.ts"}));
}

void TestPlaylistAnalysis::empty_local_playlist_is_invalid() {
    const QString local = m_base.filePath("local/empty.m3u8");
    QVERIFY(WriteFile(local, "\r\n   \r\n"));
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(!Analyse(task, local));
    QCOMPARE(events.errors, QStringList{"m3u8无效"});
    QVERIFY(!task.Running);
}

void TestPlaylistAnalysis::missing_local_file_is_invalid() {
    TM3u8 task;
    TaskEvents events(task);
    QVERIFY(!Analyse(task, m_base.filePath("local/none.m3u8")));
    QCOMPARE(events.errors, QStringList{"m3u8无效"});
    QVERIFY(!task.Running);
}

void TestPlaylistAnalysis::export_of_a_master_saves_the_first_variant_absolute() {
    const QString out = m_base.filePath("export/master-full.m3u8");
    QDir().mkpath(m_base.filePath("export"));
    QVERIFY(TM3u8::SaveFullUrlM3u8(Url("/master.m3u8"), out, QString()));
    QStringList lines;
    QVERIFY(LoadTextFile(out, lines, false) > 0);
    const QStringList uris = lines.filter(QRegularExpression("^[^#]"));
    QCOMPARE(uris.size(), TestStreams::SegmentCount);
    for (const QString &uri : uris)
        QVERIFY2(uri.startsWith(m_server.baseUrl() + "/v1/"), qPrintable(uri));
    QVERIFY(ReadAll(out).endsWith("\r\n"));
    QCOMPARE(Entries(GetTempDir()).filter(QRegularExpression("\\.(ts|m3u8)$")), QStringList());
}

void TestPlaylistAnalysis::export_makes_the_key_absolute() {
    const QString out = m_base.filePath("export/aes-full.m3u8");
    QDir().mkpath(m_base.filePath("export"));
    QVERIFY(TM3u8::SaveFullUrlM3u8(Url("/aes/index.m3u8"), out, QString()));
    const QByteArray text = ReadAll(out);
    QVERIFY(text.contains(("URI=\"" + m_server.baseUrl() + "/keys/aes.key\"").toUtf8()));
    QVERIFY(text.contains((m_server.baseUrl() + "/aes/seg0.ts\r\n").toUtf8()));
}

void TestPlaylistAnalysis::export_of_an_absolute_playlist_only_trims() {
    const QString out = m_base.filePath("export/absolute.m3u8");
    QDir().mkpath(m_base.filePath("export"));
    QVERIFY(TM3u8::SaveFullUrlM3u8(Url("/absolute/index.m3u8"), out, QString()));
    const QString b = m_server.baseUrl();
    QCOMPARE(ReadAll(out),
             CrLf({"#EXTM3U", "#EXT-X-TARGETDURATION:1", "#EXTINF:1.0,", b + "/clear/seg0.ts",
                   "#EXTINF:1.0,", b + "/clear/seg1.ts", "#EXT-X-ENDLIST"}));
}

void TestPlaylistAnalysis::failed_export_leaves_no_file() {
    const QString out = m_base.filePath("export/failed.m3u8");
    QVERIFY(WriteFile(out, "an older export"));
    QVERIFY(!TM3u8::SaveFullUrlM3u8(Url("/missing.m3u8"), out, QString()));
    QVERIFY(!QFile::exists(out));
    QVERIFY(!TM3u8::SaveFullUrlM3u8(Url("/empty/index.m3u8"), out, QString()));
    QVERIFY(!QFile::exists(out));
    QVERIFY(!TM3u8::SaveFullUrlM3u8("/not/a/url.m3u8", out, QString()));
}

QTEST_GUILESS_MAIN(TestPlaylistAnalysis)
#include "tst_playlist_analysis.moc"
