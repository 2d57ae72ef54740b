#include "hls/TM3u8Class.h"

#include "hls/EngineNotice.h"
#include "hls/M3u8Helpers.h"
#include "hls/Subtitles.h"
#include "hls/TM3u8Status.h"
#include "support/ExternalTools.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"
#include "support/TextUtils.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QTimer>

using namespace TM3u8Status;

namespace {

// What the output file looked like before the merge, so that only a file the merge itself
// wrote counts as its result.
struct FileSnapshot {
    bool exists = false;
    qint64 size = -1;
    QDateTime modified;
    QDateTime changed;

    static FileSnapshot Of(const QString &path) {
        FileSnapshot s;
        const QFileInfo info(path);
        s.exists = info.exists();
        if (s.exists) {
            s.size = info.size();
            s.modified = info.fileTime(QFileDevice::FileModificationTime);
            s.changed = info.fileTime(QFileDevice::FileMetadataChangeTime);
        }
        return s;
    }
    bool operator==(const FileSnapshot &o) const {
        return exists == o.exists && size == o.size && modified == o.modified &&
               changed == o.changed;
    }
};

bool TagIs(const QString &line, const char *tag) {
    return line.startsWith(QLatin1String(tag), Qt::CaseInsensitive);
}

// Lines that start a segment's description; anything before the first is the header.
bool IsSegmentLine(const QString &line) {
    return !line.startsWith(QLatin1Char('#')) || TagIs(line, "#EXTINF:") ||
           TagIs(line, "#EXT-X-BYTERANGE:") || TagIs(line, "#EXT-X-KEY:") ||
           TagIs(line, "#EXT-X-MAP:") || TagIs(line, "#EXT-X-DISCONTINUITY") ||
           TagIs(line, "#EXT-X-PROGRAM-DATE-TIME:");
}

// The local playlist cut at its discontinuities into playlists of their own ("part1.m3u8", ...
// in the work folder), each with the header, the key and init section in force where it
// starts, the media sequence of its first segment (the IV of a key without one) and byte
// ranges with explicit offsets. Empty when there is less than two parts.
QStringList SplitAtDiscontinuities(const QString &indexFile, const QString &workDir) {
    // Most streams have none: a look at the bytes spares decoding thousands of lines.
    QFile raw(indexFile);
    if (!raw.open(QIODevice::ReadOnly) || !raw.readAll().toUpper().contains("#EXT-X-DISCONTINUITY"))
        return {};
    raw.close();
    QStringList lines;
    if (LoadTextFile(indexFile, lines, true) == 0)
        return {};
    QStringList header, body, parts;
    QList<QStringList> playlists;
    QString key, map, startKey, startMap;
    quint64 sequence = 0, startSequence = 0;
    qint64 rangeEnd = 0;
    int segments = 0;
    bool inHeader = true;
    const auto finishPart = [&] {
        if (segments > 0) {
            QStringList part = header;
            part << QStringLiteral("#EXT-X-MEDIA-SEQUENCE:%1").arg(startSequence);
            if (!startKey.isEmpty())
                part << startKey;
            if (!startMap.isEmpty())
                part << startMap;
            playlists << (part + body << QStringLiteral("#EXT-X-ENDLIST"));
        }
        body.clear();
        segments = 0;
        startSequence = sequence;
        startKey = key;
        startMap = map;
    };
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        inHeader = inHeader && !IsSegmentLine(line);
        if (TagIs(line, "#EXT-X-MEDIA-SEQUENCE:")) {
            sequence = startSequence = line.mid(22).trimmed().toULongLong();
        } else if (TagIs(line, "#EXT-X-DISCONTINUITY-SEQUENCE:") || TagIs(line, "#EXT-X-ENDLIST")) {
        } else if (TagIs(line, "#EXT-X-DISCONTINUITY")) {
            finishPart();
        } else if (inHeader) {
            header << line;
        } else if (TagIs(line, "#EXT-X-BYTERANGE:")) {
            const QStringList range = line.mid(17).trimmed().split(QLatin1Char('@'));
            const qint64 length = range.at(0).toLongLong();
            const qint64 offset = range.size() > 1 ? range.at(1).toLongLong() : rangeEnd;
            rangeEnd = offset + length;
            body << QStringLiteral("#EXT-X-BYTERANGE:%1@%2").arg(length).arg(offset);
        } else {
            if (TagIs(line, "#EXT-X-KEY:"))
                key = line;
            else if (TagIs(line, "#EXT-X-MAP:"))
                map = line;
            body << line;
            if (!line.startsWith(QLatin1Char('#'))) {
                ++segments;
                ++sequence;
            }
        }
    }
    finishPart();
    if (playlists.size() < 2)
        return {};
    for (int i = 0; i < playlists.size(); ++i) {
        const QString part = workDir + QStringLiteral("/part%1.m3u8").arg(i + 1);
        if (!SaveTextFile(playlists.at(i), part))
            return {};
        parts << part;
    }
    return parts;
}

// The concat demuxer lays the parts end to end, each from its own start, so a clock that
// jumps between them leaves no gap and no overlap.
QString ConcatParamLine(const QString &listFile, const QString &outFile) {
    return QLatin1String(" -protocol_whitelist file -f concat -i \"") + QuoteField(listFile) +
           QLatin1String("\" -c copy -y \"") + QuoteField(outFile) + QLatin1Char('"');
}

// The last line a tool wrote to its error file (its last 4 KiB read), blanks trimmed.
QString LastLineOf(const QString &file) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return QString();
    in.seek(qMax<qint64>(0, in.size() - 4096));
    const QList<QByteArray> lines = in.readAll().split('\n');
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        const QString text = QString::fromUtf8(*line).trimmed();
        if (!text.isEmpty())
            return text;
    }
    return QString();
}

}  // namespace

// Runs ffmpeg with params in the work folder until it ends; false when it did not start.
// exitedWell: it exited with status 0 and did not stall (its output `watched` kept growing).
bool TM3u8::RunMergeStep(const QString &ffmpeg, const QString &params, const QString &watched,
                         bool &exitedWell) {
    const QString errors = WorkDir + QLatin1String("/ffmpeg.err");
    QProcess *process = RunProcessHandle(ffmpeg, params, kShowHidden, false, WorkDir, errors);
    exitedWell = process && WaitForMerge(process, watched);
    if (process && !exitedWell)
        m_mergeReason = LastLineOf(errors);
    QFile::remove(errors);
    return process != nullptr;
}

// A stream with discontinuities is merged part by part, then the parts are joined: ffmpeg's
// HLS reader would keep a forward jump of the clock as a gap in the file.
bool TM3u8::MergeParts(const QString &ffmpeg, const QStringList &parts, bool &exitedWell) {
    QStringList list{QStringLiteral("ffconcat version 1.0")};
    exitedWell = true;
    for (const QString &part : parts) {
        const QString media = part.left(part.size() - 5) + QLatin1String(".mp4");
        bool partWell = false;
        if (!RunMergeStep(ffmpeg, MergeParamLine(part, FFmpegParams, media), media, partWell))
            return false;
        exitedWell = exitedWell && partWell && FileSizeByName(media) > 0;
        list << QStringLiteral("file '%1'").arg(QFileInfo(media).fileName());
    }
    const QString listFile = WorkDir + QLatin1String("/parts.ffconcat");
    if (!exitedWell || !SaveTextFile(list, listFile)) {
        exitedWell = false;
        return true;
    }
    // Subtitles join at the last step, on the clock of the first part.
    const QString params = m_subtitleTracks.empty()
                               ? ConcatParamLine(listFile, OutFile)
                               : SubtitleMergeParamLine(listFile, true, QString(), m_subtitleTracks,
                                                        QStringLiteral("-c copy"), OutFile);
    return RunMergeStep(ffmpeg, params, OutFile, exitedWell);
}

bool TM3u8::Merge() {
    Timer.SetEnabled(false);
    const QString ffmpeg = ExternalTools::Instance().FFmpegPath();
    if (ffmpeg.isEmpty() || !QFileInfo::exists(ffmpeg)) {
        ShowEngineError(QStringLiteral("ffmpeg.exe 缺失!"), QStringLiteral("错误"));
        FailureCleanUp();
        ReportError(kFFmpegMissing);
        return false;
    }
    m_subtitleTracks = JoinSubtitles();
    const QString params =
        !m_subtitleTracks.empty() ? SubtitleMergeParamLine(IndexFile, false, AudioFile,
                                                           m_subtitleTracks, FFmpegParams, OutFile)
        : AudioFile.isEmpty()     ? MergeParamLine(IndexFile, FFmpegParams, OutFile)
                                  : MergeParamLine(IndexFile, AudioFile, FFmpegParams, OutFile);
    ReportProgress(90.0f, kMerging);

    const FileSnapshot before = FileSnapshot::Of(OutFile);
    // Separate audio has discontinuities of its own: it keeps the one-step merge.
    const QStringList parts =
        AudioFile.isEmpty() ? SplitAtDiscontinuities(IndexFile, WorkDir) : QStringList();
    bool exitedWell = false;
    m_mergeReason.clear();
    const bool started = parts.isEmpty() ? RunMergeStep(ffmpeg, params, OutFile, exitedWell)
                                         : MergeParts(ffmpeg, parts, exitedWell);

    ClearSegments();
    ReleaseAria2Process();
    DeleteWorkDir();
    EndRun();

    if (!started) {
        ReportError(kFFmpegStartFailed, QStringLiteral("无法启动 %1").arg(ffmpeg));
        return false;
    }
    const FileSnapshot after = FileSnapshot::Of(OutFile);
    const bool written = after.exists && (!before.exists || !(after == before));
    if (exitedWell && written && after.size >= 1) {
        if (OnFinish)
            OnFinish(TaskId);
        return true;
    }
    // What a failed merge wrote is a broken file; an output it never touched stays.
    if (written)
        QFile::remove(OutFile);
    ReportError(kMergeFailed, m_mergeReason.isEmpty() ? QStringLiteral("ffmpeg 没有写出输出文件")
                                                      : QStringLiteral("ffmpeg: ") + m_mergeReason);
    return false;
}

// Runs the event loop until ffmpeg has ended; true when it exited with status 0. A merge whose
// output stops growing for MergeStallLimitMs is ended (a playlist that ffmpeg still takes for
// a live one, a tool that hangs), so no merge holds its slot for ever. Takes the process.
bool TM3u8::WaitForMerge(QProcess *process, const QString &output) {
    QPointer<QProcess> guard(process);
    bool stalled = false;
    qint64 lastSize = FileSizeByName(output);
    QElapsedTimer sinceGrowth;
    sinceGrowth.start();
    QTimer watchdog;
    watchdog.setInterval(int(qBound<quint32>(20, MergeStallLimitMs() / 4, 1000)));
    QObject::connect(&watchdog, &QTimer::timeout, &watchdog, [&] {
        const qint64 size = FileSizeByName(output);
        if (size != lastSize) {
            lastSize = size;
            sinceGrowth.restart();
        } else if (!stalled && guard && sinceGrowth.elapsed() > qint64(MergeStallLimitMs())) {
            stalled = true;
            QTimer::singleShot(EndGraceMs, guard, [guard] {
                if (guard && guard->state() != QProcess::NotRunning)
                    guard->kill();
            });
            guard->terminate();
        }
    });
    watchdog.start();
    WaitWhileEventsRun(process);
    watchdog.stop();

    if (!guard)
        return false;
    if (guard->state() != QProcess::NotRunning) {
        // The loop was left for the program's end: ffmpeg goes with it.
        EndProcessLater(guard, EndGraceMs);
        return false;
    }
    const bool exitedWell =
        !stalled && guard->exitStatus() == QProcess::NormalExit && guard->exitCode() == 0;
    delete guard.data();
    return exitedWell;
}
