#pragma once
// Subtitles of a stream: WebVTT segments judged as they arrive, joined into one file per
// rendition on the clock of the merged file, and the merge options that make them mov_text
// tracks of the MP4.

#include "hls/SegmentContent.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// A subtitle segment is read whole by the merge: a larger one is no subtitle.
inline constexpr qint64 WebVttMaxBytes = 4 * 1024 * 1024;

// Whole: at most WebVttMaxBytes, starting (after an optional byte-order mark) with "WEBVTT"
// followed by the end, a blank or a line break. Broken otherwise (an error page, a media file).
SegmentContent CheckWebVttContent(const QString &file);

// The ISO 639-2 code an MP4 track takes for a playlist's LANGUAGE: a two-letter code (or the
// first part of a tag such as "zh-Hans") mapped to its three-letter code, three letters passed
// in lower case, "und" for anything else.
QString SubtitleLanguageCode(const QString &language);

// The earliest presentation time (90 kHz) among the first PES packets of each audio or video
// stream in the head of an MPEG-TS; -1 when it holds none.
qint64 FirstPresentationTime(const QByteArray &head);
// The head of an AES-128-CBC file decrypted, whole blocks only; empty without a 16-byte key
// and IV.
QByteArray DecryptHead(const QByteArray &head, const QByteArray &key, const QByteArray &iv);

// Joins the WebVTT segment files of one rendition into `out`: the first file's header without
// its X-TIMESTAMP-MAP, then every cue, moved by its file's map so that 0 is `start` (90 kHz,
// the time at which the merged file begins; -1: unknown, the first map's MPEG-TS time stands
// for it). A cue a segment repeats from the one before appears once; identifiers, settings and
// other blocks are dropped. The number of cues written; -1 when `out` could not be written.
int JoinWebVtt(const QStringList &files, qint64 start, const QString &out);

// A track's name goes on ffmpeg's command line, where one argument holds 128 KiB at most: a
// longer one would keep the merge from starting.
inline constexpr int SubtitleNameMaxLength = 256;

struct SubtitleTrack {
    QString File;      // a joined WebVTT file
    QString Language;  // as the playlist gives it
    QString Name;
};
// The merge's parameter line with subtitle files as further inputs: the video's input (the
// local playlist, or with `concat` the concat list of its parts), the separate audio's if any,
// then one mov_text track per subtitle file with its language and title.
QString SubtitleMergeParamLine(const QString &videoInput, bool concat, const QString &audioFile,
                               const std::vector<SubtitleTrack> &tracks,
                               const QString &ffmpegParams, const QString &outFile);
