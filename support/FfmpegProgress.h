#pragma once
// Follows one ffmpeg run for a percent: the input's duration from its console ("Duration:
// 00:01:02.50") or from whoever knows it better, and the position from its "-progress" lines
// ("out_time_us=..."). Either feed may come in pieces. The batch page and the run window both
// read ffmpeg through it.

#include <QByteArray>
#include <QtGlobal>

class FfmpegProgress {
public:
    void FeedConsole(const QByteArray &bytes);
    void FeedProgress(const QByteArray &bytes);
    // A duration known from elsewhere (ffprobe); it counts over the console's.
    void SetDurationUs(qint64 durationUs);
    // The file's own percent (0 to 100), or -1 while the duration or position is unknown.
    int Percent() const;

private:
    QByteArray m_console;
    QByteArray m_progress;
    qint64 m_durationUs = -1;
    qint64 m_positionUs = -1;
    bool m_durationGiven = false;
};
