#include "hls/TM3u8Class.h"

#include "hls/M3u8Helpers.h"
#include "hls/SegmentContent.h"
#include "hls/TM3u8Status.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"
#include "support/TextUtils.h"
#include "support/WorkFolders.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QTimer>

using namespace TM3u8Status;

// aria2c, when present, is DownloadFile's own fall-back, so both ways fetch keys alike.
bool TM3u8::FetchKeys(bool /*withAria2*/) {
    for (int i = 0; i < KeyUrls.size(); ++i) {
        const QString keyFile = WorkDir + QLatin1Char('/') + KeyFileName(i);
        // Fetched afresh at every start: aria2c would take a kept file for complete.
        QFile::remove(keyFile);
        FetchRequest request;
        request.headers = Headers;
        request.maxBytes = KeyMaxBytes;
        request.cancel = &StopRequested;
        if (!DownloadFile(KeyUrls.at(i), keyFile, request)) {
            if (StopRequested) {
                // Stopped while the key came: the folder keeps what earlier runs completed.
                ClearSegments();
                EndRun();
                ReportStop();
                return false;
            }
            FailureCleanUp();
            ReportError(kKeyFailed);
            return false;
        }
        if (FileSizeByName(keyFile) != 16) {
            FailureCleanUp();
            ReportError(kBadKey);
            return false;
        }
    }
    return true;
}

bool TM3u8::StartAria2() {
    if (!FetchKeys(true))
        return false;
    Aria2Runs = 0;
    m_idleRuns = 0;
    if (FinishedCount == int(Segments.size())) {
        // Resumed with every segment in place: only the merge is left.
        Merging = true;
        Merge();
        return true;
    }
    RunAria2();
    if (Aria2Process)
        ReportProgress(Percent, kDownloading);
    return true;
}

bool TM3u8::WriteAria2List() {
    if (Segments.empty())
        return false;
    ListFile = WorkDir + QLatin1Char('/') + WorkListFileName(WorkId);
    const QStringList entryOptions = Aria2ListOptions(Headers);
    QStringList lines;
    for (const SegmentRec &segment : Segments) {
        if (segment.Done)
            continue;
        // An address that may not be fetched stays out of the list: it never arrives, and the
        // runs end as for any segment that cannot be fetched.
        const QString address = FetchableUrl(segment.Url);
        if (address.isEmpty())
            continue;
        lines << address << QLatin1String(" out=") + segment.LocalName << entryOptions;
    }
    // Only the user may read it: it carries the request headers and the proxy.
    return SaveTextFile(lines, ListFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TM3u8::RunAria2() {
    ++Aria2Runs;
    LastProgressTick = TickCount();
    if (!WriteAria2List()) {
        FailureCleanUp();
        ReportError(Segments.empty() ? kNoTsList : kTsFailed);
        return;
    }
    SessionFile = WorkDir + QLatin1Char('/') + WorkId + QLatin1String(".session");
    QFile::remove(SessionFile);
    const QString params = Aria2ListParamLine(ListFile, WorkDir, SessionFile, SegmentConcurrency);
    ReleaseAria2Process();
    Aria2Process = RunProcessHandle(Aria2Path, params, kShowHidden, false, WorkDir);
    if (Aria2Process) {
        WatchAria2Process();
        Timer.SetEnabled(true);
    } else {
        FailureCleanUp();
        ReportError(kAria2StartFailed);
    }
}

// When aria2c ends between two ticks the next tick is taken at once, so the merge or the next
// run does not wait for the rest of the interval.
void TM3u8::WatchAria2Process() {
    QPointer<QProcess> process(Aria2Process);
    QObject::connect(Aria2Process, &QProcess::finished, &m_context, [this, process] {
        QTimer::singleShot(0, &m_context, [this, process] {
            if (process && process == Aria2Process && Timer.Enabled() && !Merging)
                TimerTimer();
        });
    });
}

void TM3u8::TimerTimer() {
    Timer.SetEnabled(false);
    if (!Merging)
        CheckProgress();
}

// Asks the running aria2c to end and has it killed if it does not; the poll goes on until the
// process has gone, so nothing is judged or deleted while aria2c may still write.
void TM3u8::EndAria2Run() {
    if (m_endingAria2 || !Aria2Process || Aria2Process->state() == QProcess::NotRunning)
        return;
    m_endingAria2 = true;
    QPointer<QProcess> process(Aria2Process);
    QTimer::singleShot(EndGraceMs, &m_context, [process] {
        if (process && process->state() != QProcess::NotRunning)
            process->kill();
    });
    Aria2Process->terminate();
}

int TM3u8::CountPresentSegments() {
    if (m_seen.size() != Segments.size())
        m_seen.assign(Segments.size(), SegmentSeen());
    int present = 0;
    for (size_t i = 0; i < Segments.size(); ++i) {
        SegmentSeen &seen = m_seen[i];
        if (Segments[i].Done || seen.present) {
            ++present;
            continue;
        }
        // aria2c creates the file a moment before its control file, so an empty file without
        // a control file is still in progress.
        const QString file = WorkDir + QLatin1Char('/') + Segments[i].LocalName;
        if (FileSizeByName(file) >= 1 && !QFileInfo::exists(file + QLatin1String(".aria2"))) {
            seen.present = true;
            NoteContent(seen, file);
            ++present;
        }
    }
    return present;
}

void TM3u8::NoteContent(SegmentSeen &seen, const QString &file) {
    const QFileInfo info(file);
    seen.size = info.size();
    seen.modifiedMs = info.lastModified().toMSecsSinceEpoch();
    seen.whole = CheckSegmentContent(file) != SegmentContent::Broken;
}

// Done means aria2c finished the segment: the run has ended, aria2c did not list it as
// unfinished, no control file is left, and its content is whole as far as its format tells.
bool TM3u8::SegmentIsDone(size_t index, const QSet<QString> &unfinished) {
    const SegmentRec &segment = Segments[index];
    const QString file = WorkDir + QLatin1Char('/') + segment.LocalName;
    if (unfinished.contains(segment.LocalName) ||
        QFileInfo::exists(file + QLatin1String(".aria2")) || FileSizeByName(file) < 1)
        return false;
    if (m_seen.size() != Segments.size())
        m_seen.assign(Segments.size(), SegmentSeen());
    SegmentSeen &seen = m_seen[index];
    const QFileInfo info(file);
    // A file that changed since the poll checked it (a body that went on arriving) is read again.
    if (seen.size != info.size() || seen.modifiedMs != info.lastModified().toMSecsSinceEpoch())
        NoteContent(seen, file);
    Segments[index].Size = seen.size;
    return seen.whole;
}

// After a run: marks what is done and deletes every partial file, so the next run fetches
// those segments afresh instead of continuing a file that only looks complete.
void TM3u8::SettleAria2Run() {
    const QStringList listed = UnfinishedInSession(SessionFile);
    const QSet<QString> unfinished(listed.begin(), listed.end());
    if (m_seen.size() != Segments.size())
        m_seen.assign(Segments.size(), SegmentSeen());
    int done = 0;
    for (size_t i = 0; i < Segments.size(); ++i) {
        SegmentRec &segment = Segments[i];
        if (!segment.Done)
            segment.Done = SegmentIsDone(i, unfinished);
        if (segment.Done) {
            ++done;
            continue;
        }
        m_seen[i] = SegmentSeen();
        const QString file = WorkDir + QLatin1Char('/') + segment.LocalName;
        QFile::remove(file);
        QFile::remove(file + QLatin1String(".aria2"));
    }
    m_idleRuns = done > FinishedCount ? 0 : m_idleRuns + 1;
    FinishedCount = done;
    m_presentCount = done;
    SaveRecord();
}

void TM3u8::CheckProgress() {
    if (Segments.empty()) {
        FailureCleanUp();
        ReportError(kNoTsList);
        return;
    }
    const bool runEnded = !Aria2Process || Aria2Process->state() == QProcess::NotRunning;
    if (StopRequested) {
        if (!runEnded) {
            EndAria2Run();
            Timer.SetEnabled(true);
            return;
        }
        // The folder stays with what is complete, for the next start to resume from.
        SettleAria2Run();
        ClearSegments();
        ReleaseAria2Process();
        EndRun();
        ReportStop();
        return;
    }

    const int present = CountPresentSegments();
    if (present > m_presentCount) {
        LastProgressTick = TickCount();
        m_presentCount = present;
        Percent = float(present) * 100.0f / float(Segments.size());
        ReportProgress(Percent, kDownloading);
        if (!Running)
            return;  // the owner ended the task from within the event
    } else if (!runEnded && quint32(TickCount() - LastProgressTick) > StallLimitMs()) {
        EndAria2Run();
    }

    if (runEnded) {
        SettleAria2Run();
        if (FinishedCount == int(Segments.size())) {
            Merging = true;
            Merge();
            return;
        }
        if (m_idleRuns >= DownloadRetries) {
            FailureCleanUp();
            ReportError(kTsFailed);
            return;
        }
        RunAria2();
        if (!Aria2Process)
            return;
    }
    Timer.SetEnabled(true);
}

bool TM3u8::DownloadSegmentsDirect() {
    if (!FetchKeys(false))
        return false;
    if (Segments.empty()) {
        FailureCleanUp();
        ReportError(kNoTsList);
        return false;
    }
    // Indexed, because the events below let other handlers run.
    for (size_t i = 0; i < Segments.size(); ++i) {
        if (Segments[i].Done)
            continue;
        if (StopRequested) {
            // Kept as after an aria2c run: the record and the list of what is left.
            SaveRecord();
            WriteAria2List();
            ClearSegments();
            EndRun();
            ReportStop();
            return false;
        }
        SegmentRec &segment = Segments[i];
        if (!DownloadFile(segment.Url, WorkDir + QLatin1Char('/') + segment.LocalName)) {
            FailureCleanUp();
            ReportError(kTsFailed);
            return false;
        }
        segment.Done = true;
        segment.Size = FileSizeByName(WorkDir + QLatin1Char('/') + segment.LocalName);
        ++FinishedCount;
        m_presentCount = FinishedCount;
        Percent = float(FinishedCount) * 100.0f / float(Segments.size());
        ReportProgress(Percent, kDownloading);
        LetEventsRun();
    }
    return !Segments.empty();
}
