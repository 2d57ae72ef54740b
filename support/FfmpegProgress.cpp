#include "support/FfmpegProgress.h"

#include <QList>

void FfmpegProgress::FeedConsole(const QByteArray &bytes) {
    if (m_durationUs >= 0 || m_durationGiven)
        return;
    m_console += bytes;
    const int at = m_console.indexOf("Duration: ");
    if (at < 0) {
        // Only the tail can still hold the start of the line.
        if (m_console.size() > 4096)
            m_console = m_console.right(64);
        return;
    }
    const QByteArray stamp = m_console.mid(at + 10, 11);  // HH:MM:SS.xx
    if (stamp.size() < 11)
        return;
    const QList<QByteArray> parts = stamp.split(':');
    if (parts.size() == 3) {
        bool okH = false, okM = false, okS = false;
        const double seconds = parts.at(0).toInt(&okH) * 3600.0 + parts.at(1).toInt(&okM) * 60.0 +
                               parts.at(2).toDouble(&okS);
        if (okH && okM && okS && seconds > 0)
            m_durationUs = qint64(seconds * 1e6);
    }
    m_console.clear();
    if (m_durationUs < 0)
        m_durationUs = 0;  // "N/A" or garbled: no percent for this run
}

void FfmpegProgress::FeedProgress(const QByteArray &bytes) {
    m_progress += bytes;
    int end;
    while ((end = m_progress.indexOf('\n')) >= 0) {
        const QByteArray line = m_progress.left(end).trimmed();
        m_progress.remove(0, end + 1);
        if (line.startsWith("out_time_us=") || line.startsWith("out_time_ms=")) {
            bool ok = false;
            const qint64 us = line.mid(line.indexOf('=') + 1).toLongLong(&ok);
            if (ok && us >= 0)
                m_positionUs = us;
        }
    }
}

void FfmpegProgress::SetDurationUs(qint64 durationUs) {
    if (durationUs <= 0)
        return;
    m_durationUs = durationUs;
    m_durationGiven = true;
    m_console.clear();
}

int FfmpegProgress::Percent() const {
    if (m_durationUs <= 0 || m_positionUs < 0)
        return -1;
    return int(qMin<qint64>(100, m_positionUs * 100 / m_durationUs));
}
