// The workbench's rules without widgets: the preset table, the output extension that follows the
// audio codec, and the parameter line ffmpeg gets.
#include "support/FileUtils.h"
#include "workbench/WorkbenchCommand.h"

#include <QtTest>

class TestWorkbenchCommand : public QObject {
    Q_OBJECT

private slots:
    void presets_fill_the_editor_data();
    void presets_fill_the_editor();
    void presets_sit_in_their_submenus();
    void output_extension_follows_the_codec_data();
    void output_extension_follows_the_codec();
    void param_line_data();
    void param_line();
    void dialog_filters_keep_their_captions();
};

void TestWorkbenchCommand::presets_fill_the_editor_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("line");
    const auto row = [](const char *name, const char *caption, const char *text) {
        QTest::newRow(name) << QString::fromUtf8(name) << QString::fromUtf8(caption)
                            << QStringLiteral("[input]") + QString::fromUtf8(text) +
                                   QStringLiteral("[output]");
    };
    row("N1", "原码", " -c copy ");
    row("h264aac1", "h264+aac(默认码率)", " -vcodec h264 -acodec aac ");
    row("h264aac2", "h264+aac", " -vcodec h264 -b:v 2M -acodec aac -b:a 128K ");
    row("h264aac3", "h264+aac(更改帧率)", " -vcodec h264 -acodec aac -r 25 ");
    row("N10", "画面缩放", " -vcodec h264 -b:v 2M -s 1080*720 -acodec copy ");
    row("N11", "画面裁剪", " -vcodec h264 -b:v 2M -vf crop=iw/2:ih:0:0 -acodec copy ");
    row("N901", "逆时针90度", " -vcodec h264 -b:v 2M -vf transpose=0 -acodec copy ");
    row("N902", "顺时针90度", " -vcodec h264 -b:v 2M -vf transpose=1 -acodec copy ");
    row("N1801", "旋转180度", " -vcodec h264 -b:v 2M -vf transpose=0,transpose=0 -acodec copy ");
    row("N12", "水平翻转", " -vcodec h264 -b:v 2M -vf transpose=hflip -acodec copy ");
    row("N13", "垂直翻转", " -vcodec h264 -b:v 2M -vf transpose=vflip -acodec copy ");
    row("N14", "删除水印", " -vcodec h264 -b:v 2500K -vf delogo=x=0:y=:w=0:h=0 -acodec copy ");
    row("N6", "压制字幕", " -vcodec h264 -b:v 2500K -vf ass=zimu.as -acodec copy ");
    row("N15", "关键帧剪切(起始+持续时间)", " -ss 00:00:00 -t 00:00:15 -vcodec copy -acodec copy ");
    row("N16", "关键帧剪切(起始-终止时间)",
        " -ss 00:00:00 -to 00:00:15 -vcodec copy -acodec copy ");
    row("N17", "精确剪切", " -accurate_seek -ss 00:00:00 -t 00:00:15 -vcodec h264 -acodec copy ");
    row("N8", "提取视频", " -vcodec copy -an ");
    row("N128Kbps1", "128Kbps", " -vn -acodec mp3 -b:a 128K ");
    row("N192Kbps1", "192Kbps", " -vn -acodec mp3 -b:a 192K ");
    row("N256Kbps1", "256Kbps", " -vn -acodec mp3 -b:a 256K ");
    row("N320Kbps1", "320Kbps", " -vn -acodec mp3 -b:a 320K ");
    row("N128Kbps2", "128Kbps", " -vn -acodec aac -b:a 128K ");
    row("N192Kbps2", "192Kbps", " -vn -acodec aac -b:a 192K ");
    row("N320Kbps2", "320Kbps", " -vn -acodec aac -b:a 320K ");
    row("WAV1", "WAV", " -vn -acodec pcm_s16le -ac 2 -ar 44100 ");
    QTest::newRow("m3u81") << QStringLiteral("m3u81") << QStringLiteral("m3u8合并")
                           << QStringLiteral("-allowed_extensions ALL [input] -c copy [output]");
}

void TestWorkbenchCommand::presets_fill_the_editor() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, line);
    const QList<WorkbenchPreset> &presets = WorkbenchPresets();
    QCOMPARE(presets.size(), 26);
    int found = -1;
    for (int i = 0; i < presets.size(); ++i) {
        if (presets.at(i).name == name)
            found = i;
    }
    QVERIFY(found >= 0);
    const WorkbenchPreset &preset = presets.at(found);
    QCOMPARE(preset.handler, name + QStringLiteral("Click"));
    QCOMPARE(preset.caption, caption);
    QCOMPARE(preset.ParamLine(), line);
}

void TestWorkbenchCommand::presets_sit_in_their_submenus() {
    // The path of every item from the menu down, as the user walks it.
    QHash<QString, QString> captions;
    QHash<QString, QString> parents;
    for (const WorkbenchSubmenu &sub : WorkbenchSubmenus()) {
        captions.insert(sub.name, sub.caption);
        parents.insert(sub.name, sub.parent);
    }
    QStringList paths;
    for (const WorkbenchPreset &preset : WorkbenchPresets()) {
        QStringList path{preset.caption};
        for (QString at = preset.submenu; !at.isEmpty(); at = parents.value(at))
            path.prepend(captions.value(at));
        paths.append(path.join(QStringLiteral(" > ")));
    }
    QCOMPARE(paths, (QStringList{
                        "原码",
                        "重新编码 > h264+aac(默认码率)",
                        "重新编码 > h264+aac",
                        "重新编码 > h264+aac(更改帧率)",
                        "画面大小 > 画面缩放",
                        "画面大小 > 画面裁剪",
                        "画面旋转 > 逆时针90度",
                        "画面旋转 > 顺时针90度",
                        "画面旋转 > 旋转180度",
                        "画面旋转 > 水平翻转",
                        "画面旋转 > 垂直翻转",
                        "水印 > 删除水印",
                        "压制字幕",
                        "剪切片段 > 关键帧剪切(起始+持续时间)",
                        "剪切片段 > 关键帧剪切(起始-终止时间)",
                        "剪切片段 > 精确剪切",
                        "提取视频",
                        "提取音频 > MP3 > 128Kbps",
                        "提取音频 > MP3 > 192Kbps",
                        "提取音频 > MP3 > 256Kbps",
                        "提取音频 > MP3 > 320Kbps",
                        "提取音频 > AAC > 128Kbps",
                        "提取音频 > AAC > 192Kbps",
                        "提取音频 > AAC > 320Kbps",
                        "提取音频 > WAV",
                        "m3u8合并",
                    }));
    QCOMPARE(DefaultWorkbenchPreset().name, QStringLiteral("N1"));
}

void TestWorkbenchCommand::output_extension_follows_the_codec_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("params");
    QTest::addColumn<QString>("output");  // empty: the output field is left as it is

    QTest::newRow("wav after flac") << "/m/song.flac"
                                    << "[input] -vn -acodec pcm_s16le -ac 2 -ar 44100 [output]"
                                    << "/m/song.wav";
    QTest::newRow("copy leaves the output") << "/m/song.flac"
                                            << "[input] -c copy [output]"
                                            << "";
    QTest::newRow("aac on aac gets -new") << "/m/x.aac"
                                          << "[input] -vn -acodec aac -b:a 128K [output]"
                                          << "/m/x-new.aac";
    QTest::newRow("mp3") << "/m/v.mp4"
                         << "[input] -vn -acodec mp3 -b:a 320K [output]"
                         << "/m/v.mp3";
    QTest::newRow("upper case counts") << "/m/v.mp4"
                                       << "[input] -VN -ACODEC MP3 [output]"
                                       << "/m/v.mp3";
    QTest::newRow("no -vn, no change") << "/m/v.mp4"
                                       << "[input] -acodec mp3 [output]"
                                       << "";
    QTest::newRow("video copy without audio") << "/m/v.mp4"
                                              << "[input] -vcodec copy -an [output]"
                                              << "";
    QTest::newRow("the later key wins") << "/m/v.mp4"
                                        << "[input] -vn aac ogg [output]"
                                        << "/m/v.ogg";
}

void TestWorkbenchCommand::output_extension_follows_the_codec() {
    QFETCH(QString, input);
    QFETCH(QString, params);
    QFETCH(QString, output);
    const QString extension = OutputExtensionForParams(params);
    QCOMPARE(extension.isEmpty(), output.isEmpty());
    if (!extension.isEmpty())
        QCOMPARE(MakeOutputFileName(input, extension, QStringLiteral("-new")), output);
}

void TestWorkbenchCommand::param_line_data() {
    QTest::addColumn<QString>("params");
    QTest::addColumn<QString>("line");
    QTest::newRow("default") << kDefaultParamLine
                             << R"( -y -i "/m/a b.mp4" -c copy "/m/a b-new.mp4")";
    QTest::newRow("m3u8 merge")
        << WorkbenchPresets().last().ParamLine()
        << R"(-allowed_extensions ALL  -y -i "/m/a b.mp4" -c copy "/m/a b-new.mp4")";
    QTest::newRow("no input placeholder") << "-f lavfi -i anullsrc [output]"
                                          << R"(-f lavfi -i anullsrc "/m/a b-new.mp4")";
    QTest::newRow("two inputs")
        << "[input][input] -c copy [output]"
        << R"( -y -i "/m/a b.mp4" -y -i "/m/a b.mp4" -c copy "/m/a b-new.mp4")";
    QTest::newRow("case matters") << "[Input] -c copy [OUTPUT]"
                                  << "[Input] -c copy [OUTPUT]";
    QTest::newRow("lines joined by a blank") << "[input] -c copy\r\n[output]"
                                             << R"( -y -i "/m/a b.mp4" -c copy "/m/a b-new.mp4")";
    QTest::newRow("bare line feeds too") << "[input]\n-c copy\n[output]"
                                         << R"( -y -i "/m/a b.mp4" -c copy "/m/a b-new.mp4")";
}

void TestWorkbenchCommand::param_line() {
    QFETCH(QString, params);
    QFETCH(QString, line);
    QCOMPARE(BuildWorkbenchParamLine(params, QStringLiteral("/m/a b.mp4"),
                                     QStringLiteral("/m/a b-new.mp4")),
             line);
}

void TestWorkbenchCommand::dialog_filters_keep_their_captions() {
    QCOMPARE(ToQtNameFilter(kWorkbenchSaveFilter).split(QStringLiteral(";;")).first(),
             QStringLiteral("MP4视频(*.mp4) (*.mp4)"));
    const QStringList open = ToQtNameFilter(kWorkbenchOpenFilter).split(QStringLiteral(";;"));
    QCOMPARE(open.size(), 3);
    QCOMPARE(open.first(), QStringLiteral("视频文件(*.mp4;*.mkv;*.avi;*.wmv;*.rmvb) "
                                          "(*.mp4 *.ts *.mkv *.avi *.wmv *.rmvb *.m3u8)"));
    QCOMPARE(ToQtNameFilter(kWorkbenchSaveFilter).count(QStringLiteral(";;")), 6);
}

QTEST_APPLESS_MAIN(TestWorkbenchCommand)
#include "tst_workbenchcommand.moc"
