#include "workbench/WorkbenchCommand.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

const QString kInputPlaceholder = QStringLiteral("[input]");
const QString kOutputPlaceholder = QStringLiteral("[output]");
const QString kDefaultParamLine = QStringLiteral("[input] -c copy [output]");

const QString kWorkbenchOpenFilter = QStringLiteral(
    "视频文件(*.mp4;*.mkv;*.avi;*.wmv;*.rmvb)|*.mp4;*.ts;*.mkv;*.avi;*.wmv;*.rmvb;*.m3u8|"
    "音频文件(*.wav;*.mp3;*.wma;*.ac3;*.ogg;*.ape;*.flac;*.m4a)|"
    "*.wav;*.mp3;*.wma;*.ac3;*.ogg;*.ape;*.flac;*.m4a|所有文件(*.*)|*.*");
const QString kWorkbenchSaveFilter = QStringLiteral(
    "MP4视频(*.mp4)|*.mp4|所有格式(*.*)|*.*|MKV视频(*.mkv)|*.mkv|FLV视频(*.flv)|*.flv|"
    "MP3音频(*.mp3)|*.mp3|AAC音频(*.aac)|*.aac|WAVE音频(*.wav)|*.wav");

QString WorkbenchPreset::ParamLine() const {
    const QString line = kInputPlaceholder + text + kOutputPlaceholder;
    return allowAllExtensions ? QStringLiteral("-allowed_extensions ALL ") + line : line;
}

const QList<WorkbenchSubmenu> &WorkbenchSubmenus() {
    static const QList<WorkbenchSubmenu> submenus = {
        {QStringLiteral("N2"), QStringLiteral("重新编码"), QString()},
        {QStringLiteral("N3"), QStringLiteral("画面大小"), QString()},
        {QStringLiteral("N4"), QStringLiteral("画面旋转"), QString()},
        {QStringLiteral("N5"), QStringLiteral("水印"), QString()},
        {QStringLiteral("N7"), QStringLiteral("剪切片段"), QString()},
        {QStringLiteral("N9"), QStringLiteral("提取音频"), QString()},
        {QStringLiteral("MP31"), QStringLiteral("MP3"), QStringLiteral("N9")},
        {QStringLiteral("AAC1"), QStringLiteral("AAC"), QStringLiteral("N9")},
    };
    return submenus;
}

namespace {

WorkbenchPreset P(const char *name, const char *caption, const char *submenu, const char *text,
                  bool allowAll = false) {
    WorkbenchPreset preset;
    preset.name = QString::fromUtf8(name);
    preset.handler = preset.name + QStringLiteral("Click");
    preset.caption = QString::fromUtf8(caption);
    preset.submenu = QString::fromUtf8(submenu);
    preset.text = QString::fromUtf8(text);
    preset.allowAllExtensions = allowAll;
    return preset;
}

}  // namespace

const QList<WorkbenchPreset> &WorkbenchPresets() {
    static const QList<WorkbenchPreset> presets = {
        P("N1", "原码", "", " -c copy "),
        P("h264aac1", "h264+aac(默认码率)", "N2", " -vcodec h264 -acodec aac "),
        P("h264aac2", "h264+aac", "N2", " -vcodec h264 -b:v 2M -acodec aac -b:a 128K "),
        P("h264aac3", "h264+aac(更改帧率)", "N2", " -vcodec h264 -acodec aac -r 25 "),
        P("N10", "画面缩放", "N3", " -vcodec h264 -b:v 2M -s 1080*720 -acodec copy "),
        P("N11", "画面裁剪", "N3", " -vcodec h264 -b:v 2M -vf crop=iw/2:ih:0:0 -acodec copy "),
        P("N901", "逆时针90度", "N4", " -vcodec h264 -b:v 2M -vf transpose=0 -acodec copy "),
        P("N902", "顺时针90度", "N4", " -vcodec h264 -b:v 2M -vf transpose=1 -acodec copy "),
        P("N1801", "旋转180度", "N4",
          " -vcodec h264 -b:v 2M -vf transpose=0,transpose=0 -acodec copy "),
        P("N12", "水平翻转", "N4", " -vcodec h264 -b:v 2M -vf transpose=hflip -acodec copy "),
        P("N13", "垂直翻转", "N4", " -vcodec h264 -b:v 2M -vf transpose=vflip -acodec copy "),
        P("N14", "删除水印", "N5",
          " -vcodec h264 -b:v 2500K -vf delogo=x=0:y=:w=0:h=0 -acodec copy "),
        P("N6", "压制字幕", "", " -vcodec h264 -b:v 2500K -vf ass=zimu.as -acodec copy "),
        P("N15", "关键帧剪切(起始+持续时间)", "N7",
          " -ss 00:00:00 -t 00:00:15 -vcodec copy -acodec copy "),
        P("N16", "关键帧剪切(起始-终止时间)", "N7",
          " -ss 00:00:00 -to 00:00:15 -vcodec copy -acodec copy "),
        P("N17", "精确剪切", "N7",
          " -accurate_seek -ss 00:00:00 -t 00:00:15 -vcodec h264 -acodec copy "),
        P("N8", "提取视频", "", " -vcodec copy -an "),
        P("N128Kbps1", "128Kbps", "MP31", " -vn -acodec mp3 -b:a 128K "),
        P("N192Kbps1", "192Kbps", "MP31", " -vn -acodec mp3 -b:a 192K "),
        P("N256Kbps1", "256Kbps", "MP31", " -vn -acodec mp3 -b:a 256K "),
        P("N320Kbps1", "320Kbps", "MP31", " -vn -acodec mp3 -b:a 320K "),
        P("N128Kbps2", "128Kbps", "AAC1", " -vn -acodec aac -b:a 128K "),
        P("N192Kbps2", "192Kbps", "AAC1", " -vn -acodec aac -b:a 192K "),
        P("N320Kbps2", "320Kbps", "AAC1", " -vn -acodec aac -b:a 320K "),
        P("WAV1", "WAV", "N9", " -vn -acodec pcm_s16le -ac 2 -ar 44100 "),
        P("m3u81", "m3u8合并", "", " -c copy ", true),
    };
    return presets;
}

const WorkbenchPreset &DefaultWorkbenchPreset() {
    return WorkbenchPresets().first();
}

QString OutputExtensionForParams(const QString &paramText) {
    QString text = paramText;
    for (QChar &c : text) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + 32);
    }
    if (!text.contains(QStringLiteral(" -vn ")))
        return QString();
    static const QList<QPair<QString, QString>> keys = {
        {QStringLiteral(" aac "), QStringLiteral("aac")},
        {QStringLiteral(" mp3 "), QStringLiteral("mp3")},
        {QStringLiteral(" wma "), QStringLiteral("wma")},
        {QStringLiteral(" pcm_s16le "), QStringLiteral("wav")},
        {QStringLiteral(" ape "), QStringLiteral("ape")},
        {QStringLiteral(" flac "), QStringLiteral("flac")},
        {QStringLiteral(" ogg "), QStringLiteral("ogg")},
    };
    QString extension;
    for (const auto &key : keys) {
        if (text.contains(key.first))
            extension = key.second;
    }
    return extension;
}

QString QuoteArgument(const QString &path) {
    QString quoted = path;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString BuildWorkbenchParamLine(const QString &paramText, const QString &input,
                                const QString &output) {
    // Lines pasted one under another are separate arguments, so they are joined with a blank;
    // a CR LF pair gives one blank, not two.
    QString params = paramText;
    params.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    params.replace(QLatin1Char('\n'), QLatin1Char(' '));
    params.replace(QLatin1Char('\r'), QLatin1Char(' '));
    params.replace(kInputPlaceholder, QStringLiteral(" -y -i ") + QuoteArgument(input));
    params.replace(kOutputPlaceholder, QuoteArgument(output));
    return params;
}

QString WorkbenchRunDirectory(const QString &input) {
    return QFileInfo(input).absolutePath();
}

QString ToQtNameFilter(const QString &barFilter) {
    const QStringList parts = barFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts.at(i + 1);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters.append(parts.at(i) + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return filters.join(QStringLiteral(";;"));
}
