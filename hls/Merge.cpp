#include "hls/TM3u8Class.h"

#include "hls/EngineNotice.h"
#include "hls/M3u8Helpers.h"
#include "hls/TM3u8Status.h"
#include "support/ExternalTools.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"

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

}  // namespace

bool TM3u8::Merge() {
    Timer.SetEnabled(false);
    const QString ffmpeg = ExternalTools::Instance().FFmpegPath();
    if (ffmpeg.isEmpty() || !QFileInfo::exists(ffmpeg)) {
        ShowEngineError(QStringLiteral("ffmpeg.exe 缺失!"), QStringLiteral("错误"));
        FailureCleanUp();
        ReportError(kFFmpegMissing);
        return false;
    }
    const QString params = AudioFile.isEmpty()
                               ? MergeParamLine(IndexFile, FFmpegParams, OutFile)
                               : MergeParamLine(IndexFile, AudioFile, FFmpegParams, OutFile);
    ReportProgress(90.0f, kMerging);

    const FileSnapshot before = FileSnapshot::Of(OutFile);
    QProcess *process = RunProcessHandle(ffmpeg, params, kShowHidden, false, WorkDir);
    const bool started = process != nullptr;
    const bool exitedWell = started && WaitForMerge(process);

    ClearSegments();
    ReleaseAria2Process();
    DeleteWorkDir();
    EndRun();

    if (!started) {
        ReportError(kFFmpegStartFailed);
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
    ReportError(kMergeFailed);
    return false;
}

// Runs the event loop until ffmpeg has ended; true when it exited with status 0. A merge whose
// output stops growing for MergeStallLimitMs is ended (a playlist that ffmpeg still takes for
// a live one, a tool that hangs), so no merge holds its slot for ever. Takes the process.
bool TM3u8::WaitForMerge(QProcess *process) {
    QPointer<QProcess> guard(process);
    bool stalled = false;
    qint64 lastSize = FileSizeByName(OutFile);
    QElapsedTimer sinceGrowth;
    sinceGrowth.start();
    QTimer watchdog;
    watchdog.setInterval(int(qBound<quint32>(20, MergeStallLimitMs() / 4, 1000)));
    QObject::connect(&watchdog, &QTimer::timeout, &watchdog, [&] {
        const qint64 size = FileSizeByName(OutFile);
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
