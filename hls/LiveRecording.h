#pragma once
// Where the recording of a live playlist stands (LiveRecording.cpp).

#include "hls/Playlist.h"

#include <QElapsedTimer>
#include <QString>

struct LiveRecordingState {
    QString Url;  // the media playlist read again and again
    // Every segment recorded, with the keys and maps they use, as the local playlist lists them.
    MediaPlaylist Media;
    LocalNames Names;
    quint64 Next = 0;         // media sequence number of the next segment to take
    quint64 WindowStart = 0;  // of the first segment the last read listed
    int Number = 0;           // segments taken so far
    bool Gap = false;         // the next segment taken follows a gap
    bool Ended = false;       // no more reads: fetch what is listed, then merge
    bool EndAsked = false;    // EndRecording was called
    double ListedSeconds = 0;
    qint64 ReloadAt = 0;  // ms on Clock
    qint64 ChangedAt = 0;
    qint64 ReportedMs = -1;
    QElapsedTimer Clock;
};
