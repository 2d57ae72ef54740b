// The playlist model: how a playlist's text is read, which variant and rendition a task takes,
// what is refused before it can reach the tools, and the local playlist written from it.

#include "hls/Playlist.h"
#include "hls/Subtitles.h"

#include <QtTest>

namespace {

const QString kBase = QStringLiteral("http://h/m/master.m3u8");

}  // namespace

class TestPlaylistModel : public QObject {
    Q_OBJECT

private slots:
    void audio_rendition_data();
    void audio_rendition();
    void variant_choice_data();
    void variant_choice();
    void refused_playlists_data();
    void refused_playlists();
    void local_playlist_holds_only_what_the_merge_needs();
    void subtitle_renditions_data();
    void subtitle_renditions();
    void subtitle_language_codes_data();
    void subtitle_language_codes();
};

void TestPlaylistModel::audio_rendition_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("variant");  // empty: the first entry
    QTest::addColumn<QString>("expected");
    const QString inf = QStringLiteral("#EXT-X-STREAM-INF:BANDWIDTH=900000,AUDIO=\"aud\"");
    const QString en =
        QStringLiteral("#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",NAME=\"en\",URI=\"en/a.m3u8\"");
    const QString de = QStringLiteral(
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",NAME=\"de\",DEFAULT=YES,URI=\"de/a.m3u8\"");
    QTest::newRow("default rendition, listed second")
        << QStringList{"#EXTM3U", en, de, inf, "v/index.m3u8"} << ""
        << "http://h/m/de/a.m3u8";
    QTest::newRow("no default: the first of the group")
        << QStringList{"#EXTM3U", en, QString(de).replace("DEFAULT=YES", "DEFAULT=NO"), inf,
                       "v/index.m3u8"}
        << ""
        << "http://h/m/en/a.m3u8";
    QTest::newRow("default of another group ignored")
        << QStringList{"#EXTM3U",
                       "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"other\",DEFAULT=YES,URI=\"o.m3u8\"", en,
                       inf, "v/index.m3u8"}
        << ""
        << "http://h/m/en/a.m3u8";
    QTest::newRow("video and subtitle renditions of the group ignored")
        << QStringList{"#EXTM3U",
                       "#EXT-X-MEDIA:TYPE=VIDEO,GROUP-ID=\"aud\",DEFAULT=YES,URI=\"cam.m3u8\"",
                       "#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID=\"aud\",DEFAULT=YES,URI=\"s.m3u8\"",
                       en,
                       inf,
                       "v/index.m3u8"}
        << ""
        << "http://h/m/en/a.m3u8";
    QTest::newRow("rendition chosen has no URI: muxed in")
        << QStringList{"#EXTM3U",
                       "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",NAME=\"main\",DEFAULT=YES", en,
                       inf, "v/index.m3u8"}
        << ""
        << "";
    QTest::newRow("variant without an AUDIO group")
        << QStringList{"#EXTM3U", de, "#EXT-X-STREAM-INF:BANDWIDTH=1", "v/index.m3u8"} << ""
        << "";
    QTest::newRow("the chosen variant's group, not the first entry's")
        << QStringList{"#EXTM3U",
                       de,
                       "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"hi\",DEFAULT=YES,URI=\"hi.m3u8\"",
                       inf,
                       "lo/index.m3u8",
                       "#EXT-X-STREAM-INF:BANDWIDTH=5000000,AUDIO=\"hi\"",
                       "hi/index.m3u8"}
        << "hi/index.m3u8"
        << "http://h/m/hi.m3u8";
    QTest::newRow("unquoted values, any case, commas in quotes, blanks")
        << QStringList{"#EXTM3U",
                       "  #ext-x-media:type=audio,name=\"a,b\",group-id=aud,default=yes , "
                       "uri=\"x y.m3u8\"  ",
                       "#EXT-X-STREAM-INF:CODECS=\"avc1.4d401f,AUDIO=no\",audio=aud",
                       "v/index.m3u8"}
        << ""
        << "http://h/m/x%20y.m3u8";
    QTest::newRow("group names are compared as written")
        << QStringList{"#EXTM3U", en, "#EXT-X-STREAM-INF:BANDWIDTH=1,AUDIO=\"AUD\"", "v/index.m3u8"}
        << ""
        << "";
    QTest::newRow("media playlist") << QStringList{"#EXTM3U", "#EXTINF:1,", "seg0.ts"} << ""
                                    << "";
}

void TestPlaylistModel::audio_rendition() {
    QFETCH(QStringList, lines);
    QFETCH(QString, variant);
    QFETCH(QString, expected);
    Playlist playlist;
    QVERIFY(ParsePlaylist(lines, kBase, playlist));
    int index = ChooseVariantIndex(playlist, VariantChoice::First);
    for (int i = 0; i < int(playlist.Variants.size()) && !variant.isEmpty(); ++i) {
        if (playlist.Variants[size_t(i)].Uri == ResolveUrl(variant, kBase))
            index = i;
    }
    QCOMPARE(AudioRenditionFor(playlist, index), expected);
}

void TestPlaylistModel::variant_choice_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("choice");
    QTest::addColumn<QString>("expected");  // the chosen variant, as written
    const QString audio = "#EXT-X-STREAM-INF:BANDWIDTH=%1,CODECS=\"mp4a.40.5\"";
    const QString video = "#EXT-X-STREAM-INF:BANDWIDTH=%1,CODECS=\"avc1.64001f,mp4a.40.2\"";
    const int first = int(VariantChoice::First), highest = int(VariantChoice::Highest),
              lowest = int(VariantChoice::Lowest);
    const QStringList mixed{"#EXTM3U",         audio.arg(64000),   "a.m3u8",
                            video.arg(800000), "v1.m3u8",          video.arg(2000000),
                            "v2.m3u8",         audio.arg(9000000), "a-hi.m3u8"};
    QTest::newRow("audio-only first: the first with video") << mixed << first << "v1.m3u8";
    QTest::newRow("highest among video") << mixed << highest << "v2.m3u8";
    QTest::newRow("lowest among video") << mixed << lowest << "v1.m3u8";
    QTest::newRow("all audio-only")
        << QStringList{"#EXTM3U", audio.arg(2), "a2.m3u8", audio.arg(1), "a1.m3u8"} << lowest
        << "a1.m3u8";
    QTest::newRow("no CODECS may carry video")
        << QStringList{"#EXTM3U", audio.arg(1), "a.m3u8", "#EXT-X-STREAM-INF:BANDWIDTH=5", "x.m3u8"}
        << first << "x.m3u8";
    QTest::newRow("a RESOLUTION means video")
        << QStringList{"#EXTM3U", audio.arg(1), "a.m3u8",
                       "#EXT-X-STREAM-INF:BANDWIDTH=5,CODECS=\"mp4a.40.2\",RESOLUTION=640x360",
                       "r.m3u8"}
        << first << "r.m3u8";
    QTest::newRow("a stray address line is no variant")
        << QStringList{"#EXTM3U", "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"x\"", "A1.m3u8",
                       video.arg(1), "v.m3u8"}
        << first << "v.m3u8";
    QTest::newRow("blank line and comment before the address")
        << QStringList{"#EXTM3U", video.arg(1), "", "# the main one", "v.m3u8"} << first
        << "v.m3u8";
    QTest::newRow("tie: the earlier")
        << QStringList{"#EXTM3U", video.arg(7), "one.m3u8", video.arg(7), "two.m3u8"} << highest
        << "one.m3u8";
}

void TestPlaylistModel::variant_choice() {
    QFETCH(QStringList, lines);
    QFETCH(int, choice);
    QFETCH(QString, expected);
    Playlist playlist;
    QVERIFY(ParsePlaylist(lines, kBase, playlist));
    QVERIFY(playlist.IsMaster);
    QVERIFY(playlist.Media.Segments.empty());
    const int index = ChooseVariantIndex(playlist, VariantChoice(choice));
    QVERIFY(index >= 0);
    QCOMPARE(playlist.Variants[size_t(index)].Uri, ResolveUrl(expected, kBase));
}

void TestPlaylistModel::refused_playlists_data() {
    QTest::addColumn<QStringList>("lines");
    const QString nul = QString(QChar(0));
    QTest::newRow("NUL in a segment's title")
        << QStringList{"#EXTM3U", "#EXTINF:1," + nul + "/home/u/private.ts", "seg0.ts"};
    QTest::newRow("carriage return inside a tag")
        << QStringList{"#EXTM3U", "#EXTINF:1,\r#EXT-X-MAP:URI=\"/etc/passwd\"", "seg0.ts"};
    QTest::newRow("variant after the first segment")
        << QStringList{"#EXTM3U", "#EXTINF:1,", "seg0.ts", "#EXT-X-STREAM-INF:BANDWIDTH=1",
                       "/home/u/private.m3u8"};
    QTest::newRow("key with two URIs") << QStringList{
        "#EXTM3U", "#EXT-X-KEY:METHOD=AES-128,URI=\"k.key\",URI=\"/home/u/private.key\"",
        "#EXTINF:1,", "seg0.ts"};
    QTest::newRow("map with two URIs")
        << QStringList{"#EXTM3U", "#EXT-X-MAP:URI=\"init.mp4\",URI=\"/home/u/private.mp4\"",
                       "#EXTINF:1,", "seg0.m4s"};
    QTest::newRow("method smuggling an attribute") << QStringList{
        "#EXTM3U", "#EXT-X-KEY:METHOD=AES-128\"URI=\"/x\",URI=\"k.key\"", "#EXTINF:1,", "seg0.ts"};
    QTest::newRow("IV that is no IV") << QStringList{
        "#EXTM3U", "#EXT-X-KEY:METHOD=AES-128,URI=\"k.key\",IV=0xZZ", "#EXTINF:1,", "seg0.ts"};
}

void TestPlaylistModel::refused_playlists() {
    QFETCH(QStringList, lines);
    Playlist playlist;
    QVERIFY(!ParsePlaylist(lines, kBase, playlist));
    QVERIFY(playlist.Media.Segments.empty());
}

void TestPlaylistModel::local_playlist_holds_only_what_the_merge_needs() {
    const QStringList lines{
        "#EXTM3U",
        "#EXT-X-MEDIA-SEQUENCE:7",
        "#EXT-X-SESSION-KEY:METHOD=AES-128,URI=\"/home/u/s.key\"",
        "#EXT-X-MAP:URI=\"all.mp4\",BYTERANGE=\"100@0\"",
        "#EXT-X-KEY:METHOD=AES-128,URI=\"/k1\"",
        "#EXTINF:2.5,title",
        "#EXT-X-BYTERANGE:50@100",
        "all.mp4",
        "#EXT-X-PART:DURATION=1,URI=\"/home/u/p.mp4\"",
        "#EXT-X-DISCONTINUITY",
        "#EXT-X-KEY:METHOD=AES-128,URI=\"/k1\",IV=0x0A",
        "#EXTINF:2,",
        "#EXT-X-BYTERANGE:60",
        "all.mp4",
        "#EXT-X-KEY:METHOD=NONE",
        "#EXTINF:1,",
        "../x.ts#frag",
    };
    Playlist playlist;
    QVERIFY(ParsePlaylist(lines, kBase, playlist));
    const MediaPlaylist &media = playlist.Media;
    QCOMPARE(int(media.Segments.size()), 3);
    QCOMPARE(media.Segments[1].Offset, qint64(150));  // follows the previous range
    QCOMPARE(media.Segments[2].Uri, QStringLiteral("http://h/x.ts"));
    QCOMPARE(media.Segments[2].Sequence, quint64(9));
    LocalNames names;
    names.Segments = {"1.ts", "1.ts", "3.ts"};
    names.Keys = {"key.key", "key.key"};
    names.Maps = {"1.ts"};
    QCOMPARE(WriteLocalPlaylist(media, names),
             QStringList(
                 {"#EXTM3U", "#EXT-X-TARGETDURATION:3", "#EXT-X-MEDIA-SEQUENCE:7",
                  "#EXT-X-MAP:URI=\"1.ts\",BYTERANGE=\"100@0\"",
                  "#EXT-X-KEY:METHOD=AES-128,URI=\"key.key\"", "#EXTINF:2.5,",
                  "#EXT-X-BYTERANGE:50@100", "1.ts", "#EXT-X-DISCONTINUITY",
                  "#EXT-X-KEY:METHOD=AES-128,URI=\"key.key\",IV=0x0000000000000000000000000000000a",
                  "#EXTINF:2.0,", "#EXT-X-BYTERANGE:60@150", "1.ts", "#EXT-X-KEY:METHOD=NONE",
                  "#EXTINF:1.0,", "3.ts", "#EXT-X-ENDLIST"}));
}

void TestPlaylistModel::subtitle_renditions_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("expected");  // "address|language|name" of each, in order
    const QString sub = "#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID=\"%1\",NAME=\"%2\",LANGUAGE=\"%3\"%4";
    const QString inf = "#EXT-X-STREAM-INF:BANDWIDTH=1,SUBTITLES=\"subs\"";
    QTest::newRow("both of the group, in order, names with commas")
        << QStringList{"#EXTM3U", sub.arg("subs", "中文, 简体", "zh-Hans", ",URI=\"zh.m3u8\""),
                       sub.arg("subs", "English", "en", ",DEFAULT=YES,URI=\"/en.m3u8\""), inf,
                       "v.m3u8"}
        << QStringList{"http://h/m/zh.m3u8|zh-Hans|中文, 简体", "http://h/en.m3u8|en|English"};
    QTest::newRow("no URI, another group, another type, the same address twice")
        << QStringList{"#EXTM3U",
                       sub.arg("subs", "cc", "en", ""),
                       sub.arg("other", "de", "de", ",URI=\"de.m3u8\""),
                       "#EXT-X-MEDIA:TYPE=CLOSED-CAPTIONS,GROUP-ID=\"subs\",NAME=\"c\","
                       "INSTREAM-ID=\"CC1\",URI=\"c.m3u8\"",
                       sub.arg("subs", "fr", "fr", ",URI=\"fr.m3u8\""),
                       sub.arg("subs", "fr2", "fr", ",URI=\"fr.m3u8\""),
                       inf,
                       "v.m3u8"}
        << QStringList{"http://h/m/fr.m3u8|fr|fr"};
    QTest::newRow("variant without a SUBTITLES group")
        << QStringList{"#EXTM3U", sub.arg("subs", "en", "en", ",URI=\"en.m3u8\""),
                       "#EXT-X-STREAM-INF:BANDWIDTH=1", "v.m3u8"}
        << QStringList();
    QStringList many{"#EXTM3U"};
    for (int i = 0; i < MaxSubtitleRenditions + 3; ++i)
        many << sub.arg("subs", "n").arg("en").arg(QString(",URI=\"%1.m3u8\"").arg(i));
    QStringList first;
    for (int i = 0; i < MaxSubtitleRenditions; ++i)
        first << QString("http://h/m/%1.m3u8|en|n").arg(i);
    QTest::newRow("at most the cap") << (many << inf << "v.m3u8") << first;
}

void TestPlaylistModel::subtitle_renditions() {
    QFETCH(QStringList, lines);
    QFETCH(QStringList, expected);
    Playlist playlist;
    QVERIFY(ParsePlaylist(lines, kBase, playlist));
    QStringList found;
    for (const PlaylistRendition &r :
         SubtitleRenditionsFor(playlist, ChooseVariantIndex(playlist, VariantChoice::First)))
        found << r.Uri + '|' + r.Language + '|' + r.Name;
    QCOMPARE(found, expected);
}

void TestPlaylistModel::subtitle_language_codes_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("code");
    const QStringList rows{"en eng", "zh zho",      "ZH-hans zho", "pt_BR por", "he heb",
                           "iw heb", "fil fil",     "ENG eng",     "chi chi",   "xx und",
                           "e1 und", "english und", "x und",       "- und"};
    for (const QString &row : rows)
        QTest::newRow(qPrintable(row)) << row.section(' ', 0, 0) << row.section(' ', 1);
    QTest::newRow("empty") << QString() << "und";
}

void TestPlaylistModel::subtitle_language_codes() {
    QFETCH(QString, language);
    QFETCH(QString, code);
    QCOMPARE(SubtitleLanguageCode(language), code);
}

QTEST_GUILESS_MAIN(TestPlaylistModel)
#include "tst_playlist_model.moc"
