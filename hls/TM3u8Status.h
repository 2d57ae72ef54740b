#pragma once
// What the units of the download task share: the status texts a task reports, and the one way
// its long loops let pending events run.

#include <QCoreApplication>
#include <QString>

namespace TM3u8Status {

inline const QString kAnalysing = QStringLiteral("分析中");
inline const QString kDownloading = QStringLiteral("下载中");
inline const QString kRecording = QStringLiteral("录制中");
inline const QString kMerging = QStringLiteral("合并中");
inline const QString kInvalidM3u8 = QStringLiteral("m3u8无效");
inline const QString kKeyFailed = QStringLiteral("key下载失败");
inline const QString kBadKey = QStringLiteral("不支持的加密key");
inline const QString kNoTsList = QStringLiteral("无ts列表");
inline const QString kTsFailed = QStringLiteral("ts下载失败");
inline const QString kAria2StartFailed = QStringLiteral("Aria2启动失败");
inline const QString kFFmpegMissing = QStringLiteral("ffmpeg程序缺失");
inline const QString kFFmpegStartFailed = QStringLiteral("ffmpeg启动失败");
inline const QString kMergeFailed = QStringLiteral("合并失败");
inline const QString kBusyElsewhere = QStringLiteral("另一进程正在下载此地址");

// A recorded length as the progress column shows it: "01:02:03".
inline QString RecordedLengthText(double seconds) {
    const qint64 s = seconds > 0 ? qint64(seconds) : 0;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

inline void LetEventsRun() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

}  // namespace TM3u8Status
