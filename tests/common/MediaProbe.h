#pragma once
// ffprobe/ffmpeg checks of media files, for tests that must tell a real output from a file
// that merely exists. The tools are taken from PATH.

#include <QSize>
#include <QString>
#include <QStringList>

namespace MediaProbe {

double Duration(const QString &file);  // format duration in seconds, -1 on failure
// Duration in seconds of the first stream of a kind ("v" or "a"), -1 on failure.
double StreamDuration(const QString &file, const QString &kind);
bool HasVideo(const QString &file);
bool HasAudio(const QString &file);
QSize VideoSize(const QString &file);  // first video stream, invalid on failure
// The kind of each stream ("video", "audio", ...) in file order; empty on failure. For an MP4,
// not for MPEG-TS, which lists its streams once more per program.
QStringList StreamKinds(const QString &file);
// One md5 per decoded video frame (first video stream), in order; empty on failure. Equal
// lists mean the pictures decode identically, whatever the container or timestamps.
QStringList VideoFrameMd5(const QString &file);

}  // namespace MediaProbe
