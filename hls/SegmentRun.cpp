#include "hls/TM3u8Class.h"

#include "hls/DisguisedSegment.h"
#include "hls/M3u8Helpers.h"
#include "hls/SegmentContent.h"
#include "hls/TM3u8Status.h"
#include "hls/UrlFetcher.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"
#include "support/TextUtils.h"
#include "support/WorkFolders.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QTimer>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <dirent.h>
#endif

using namespace TM3u8Status;

namespace {

// The names in a folder, as the file system holds them. readdir where there is one: Qt's
// iterator builds file information for each of thousands of entries, tens of milliseconds on
// a busy machine at every poll.
QSet<QByteArray> FolderEntryNames(const QString &folder) {
    QSet<QByteArray> names;
#ifdef Q_OS_UNIX
    if (DIR *dir = ::opendir(QFile::encodeName(folder).constData())) {
        while (const dirent *entry = ::readdir(dir))
            names.insert(QByteArray(entry->d_name));
        ::closedir(dir);
    }
#else
    for (QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System); it.hasNext();)
        names.insert(QFile::encodeName(QFileInfo(it.next()).fileName()));
#endif
    return names;
}

}  // namespace

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
        // Stopped while the key came: the folder keeps what earlier runs completed.
        if (!DownloadFile(KeyUrls.at(i), keyFile, request))
            return FailOrStop(kKeyFailed, UrlFetcher::LastError());
        const qint64 size = FileSizeByName(keyFile);
        if (size != 16) {
            FailureCleanUp();
            ReportError(
                kBadKey,
                QStringLiteral("key 有 %1 字节, 应为 16 (%2)").arg(size).arg(KeyUrls.at(i)));
            return false;
        }
    }
    return true;
}

// The key bytes, for the done rule to check encrypted segments against.
void TM3u8::LoadKeys() {
    m_keys.clear();
    for (int i = 0; i < KeyUrls.size(); ++i) {
        QFile in(WorkDir + QLatin1Char('/') + KeyFileName(i));
        m_keys << (in.open(QIODevice::ReadOnly) ? in.read(16) : QByteArray());
    }
}

// Segments kept from an earlier start were encrypted under the keys of that start: under any
// other key they decrypt to garbage, so the folder starts over.
void TM3u8::StartOverIfKeysChanged() {
    SegmentKeySums sums;
    for (int i = 0; i < KeyUrls.size(); ++i)
        sums.push_back(
            {KeyUrls.at(i), QCryptographicHash::hash(m_keys.value(i), QCryptographicHash::Sha256)});
    if (sums == m_keySums)
        return;
    m_keySums = sums;
    for (SegmentRec &segment : Segments) {
        const QString file = WorkDir + QLatin1Char('/') + segment.LocalName;
        if (segment.Done || QFileInfo::exists(file)) {
            QFile::remove(file);
            QFile::remove(file + QLatin1String(".aria2"));
        }
        segment.Done = false;
        segment.Size = 0;
    }
    m_seen.clear();
    FinishedCount = 0;
    m_presentCount = 0;
    Percent = 0;
    SaveRecord();
}

SegmentExpectation TM3u8::ExpectationFor(const SegmentRec &segment) const {
    SegmentExpectation expect;
    expect.MinSize = segment.MinSize;
    expect.WebVtt = segment.Subtitle;
    if (segment.Key >= 0) {
        expect.Key = m_keys.value(segment.Key);
        expect.Iv = segment.Iv;
        expect.Opaque = expect.Key.size() != 16 || expect.Iv.size() != 16;
    }
    return expect;
}

bool TM3u8::StartAria2() {
    if (!FetchKeys(true))
        return false;
    LoadKeys();
    StartOverIfKeysChanged();
    Aria2Runs = 0;
    m_idleRuns = 0;
    if (Recording) {
        // The recording's ticks start the runs as segments appear.
        ReportProgress(Percent, kRecording);
        Timer.SetEnabled(true);
        return true;
    }
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
    // Without its disk cache aria2c writes bytes as they arrive, so the poll sees a large file
    // grow instead of a file that stays empty until a whole piece of it has come.
    const QString params = Aria2ListParamLine(ListFile, WorkDir, SessionFile, SegmentConcurrency) +
                           QLatin1String(" --disk-cache=0");
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

// Counts the segment files that look complete and the bytes of all of them, partial files
// included: bytes arriving are progress, even while no file completes. partialShare: the part
// of a segment that partial files of known length hold, summed. Files are looked at for a
// slice of time per tick, taking up where the last tick stopped; the sums come from what was
// last seen of every file, so a file not looked at this tick changes nothing.
int TM3u8::CountPresentSegments(double &partialShare) {
    const size_t count = Segments.size();
    if (m_seen.size() != count)
        m_seen.assign(count, SegmentSeen());
    // One read of the folder spares a lookup for every segment not begun yet.
    const QSet<QByteArray> names = FolderEntryNames(WorkDir);
    QElapsedTimer slice;
    slice.start();
    bool reading = true;
    size_t k = 0;
    for (; k < count && slice.elapsed() < PollSliceMs; ++k) {
        const size_t i = (m_pollNext + k) % count;
        SegmentSeen &seen = m_seen[i];
        if (Segments[i].Done || seen.present || !names.contains(Segments[i].LocalName.toUtf8()))
            continue;
        // aria2c creates the file a moment before its control file, so an empty file without
        // a control file is still in progress.
        const QString file = WorkDir + QLatin1Char('/') + Segments[i].LocalName;
        const qint64 size = FileSizeByName(file);
        seen.partial = qMax<qint64>(size, 0);
        NoteOverCap(i, size);
        if (size >= 1 && !QFileInfo::exists(file + QLatin1String(".aria2"))) {
            seen.present = true;
            // Content read beyond its share of the slice waits for the run's end.
            reading = reading && slice.elapsed() < ReadSliceMs;
            if (reading)
                NoteContent(i, file);
        }
    }
    m_pollNext = count ? (m_pollNext + k) % count : 0;
    // An answer of unknown length has no control file, so its file looks complete while it
    // still grows: a few of the files seen complete are looked at again each tick, in turn.
    for (size_t n = 0, looked = 0; n < count && looked < GrowthChecksPerTick; ++n) {
        const size_t i = m_growNext++ % count;
        if (Segments[i].Done || !m_seen[i].present)
            continue;
        ++looked;
        const qint64 size = FileSizeByName(WorkDir + QLatin1Char('/') + Segments[i].LocalName);
        m_seen[i].partial = qMax<qint64>(size, 0);
        NoteOverCap(i, size);
    }

    int present = 0;
    qint64 bytes = 0;
    partialShare = 0;
    for (size_t i = 0; i < count; ++i) {
        const SegmentSeen &seen = m_seen[i];
        if (Segments[i].Done || seen.present) {
            ++present;
            bytes += Segments[i].Done ? 0 : seen.partial;
        } else {
            bytes += seen.partial;
            if (Segments[i].MinSize > 0)
                partialShare += qMin(0.99, double(seen.partial) / double(Segments[i].MinSize));
        }
    }
    if (bytes != m_bytesSeen) {
        m_bytesSeen = bytes;
        LastProgressTick = TickCount();
    }
    return present;
}

qint64 TM3u8::SegmentCap(const SegmentRec &segment) const {
    return segment.MinSize + SegmentMaxBytes();
}

void TM3u8::NoteOverCap(size_t index, qint64 size) {
    if (size > SegmentCap(Segments[index]) && m_oversize < 0) {
        m_oversize = int(index);
        EndAria2Run();
    }
}

bool TM3u8::FailedOverCap() {
    if (m_oversize < 0)
        return false;
    // No retry makes an answer that never ends any shorter.
    const SegmentRec &segment = Segments[size_t(m_oversize)];
    const QString reason = QStringLiteral("分段的答复超过 %1 MiB 仍未结束 (%2)")
                               .arg(SegmentCap(segment) >> 20)
                               .arg(segment.Url);
    FailureCleanUp();
    ReportError(kTsFailed, reason);
    return true;
}

void TM3u8::NoteContent(size_t index, const QString &file) {
    SegmentSeen &seen = m_seen[index];
    const QFileInfo info(file);
    seen.size = info.size();
    seen.modifiedMs = info.lastModified().toMSecsSinceEpoch();
    const SegmentExpectation expect = ExpectationFor(Segments[index]);
    const SegmentContent content = CheckSegmentContent(file, expect);
    seen.whole = content != SegmentContent::Broken;
    seen.media = content == SegmentContent::Whole && expect.Key.isEmpty() && !expect.WebVtt;
}

// Done means aria2c finished the segment: the run has ended, aria2c did not list it as
// unfinished, no control file is left, and its content is whole as far as its format tells.
bool TM3u8::SegmentIsDone(size_t index, const QSet<QString> &unfinished) {
    const SegmentRec &segment = Segments[index];
    const QString file = WorkDir + QLatin1Char('/') + segment.LocalName;
    const qint64 size = FileSizeByName(file);
    if (unfinished.contains(segment.LocalName) ||
        QFileInfo::exists(file + QLatin1String(".aria2")) || size < 1 || size > SegmentCap(segment))
        return false;
    if (m_seen.size() != Segments.size())
        m_seen.assign(Segments.size(), SegmentSeen());
    SegmentSeen &seen = m_seen[index];
    QFileInfo info(file);
    const bool unchanged =
        seen.size == info.size() && seen.modifiedMs == info.lastModified().toMSecsSinceEpoch();
    // Only now is the file aria2c's no more: a leading image is cut off before the judging.
    // A clear file the poll found to be media as it stands starts with none.
    if (!(unchanged && seen.media) && StripLeadingImage(file, ExpectationFor(segment)))
        info.refresh();
    // A file that changed since the poll checked it (a body that went on arriving) is read again.
    if (seen.size != info.size() || seen.modifiedMs != info.lastModified().toMSecsSinceEpoch())
        NoteContent(index, file);
    Segments[index].Size = seen.size;
    return seen.whole;
}

// After a run: marks what is done. A partial file with its control file stays for the next
// run to continue (a large file on a slow line may take many runs) as long as it grows from
// one run's end to the next; every other partial file is deleted, so the next run fetches
// that segment afresh instead of continuing a file that only looks complete.
// Thousands of segments take hundreds of milliseconds of file checks on a busy disk, so
// unless `all` is asked for, one call settles for about SettleSliceMs and the rest follows at
// the next turn of the event loop. True once every segment is settled.
bool TM3u8::SettleAria2Run(bool all) {
    if (m_settleNext == 0) {
        const QStringList listed = UnfinishedInSession(SessionFile);
        m_unfinished = QSet<QString>(listed.begin(), listed.end());
        if (m_seen.size() != Segments.size())
            m_seen.assign(Segments.size(), SegmentSeen());
    }
    QElapsedTimer slice;
    slice.start();
    for (; m_settleNext < Segments.size(); ++m_settleNext) {
        if (!all && slice.elapsed() >= SettleSliceMs)
            return false;
        SettleSegment(m_settleNext);
    }
    m_settleNext = 0;
    m_unfinished.clear();
    const int done = int(std::count_if(Segments.begin(), Segments.end(),
                                       [](const SegmentRec &segment) { return segment.Done; }));
    m_idleRuns = done > FinishedCount ? 0 : m_idleRuns + 1;
    FinishedCount = done;
    m_presentCount = done;
    SaveRecord();
    return true;
}

void TM3u8::SettleSegment(size_t index) {
    SegmentRec &segment = Segments[index];
    if (!segment.Done)
        segment.Done = SegmentIsDone(index, m_unfinished);
    if (segment.Done)
        return;
    const QString file = WorkDir + QLatin1Char('/') + segment.LocalName;
    const qint64 kept = m_seen[index].keptSize;
    m_seen[index] = SegmentSeen();
    const qint64 size = FileSizeByName(file);
    if (size > kept && size <= SegmentCap(segment) &&
        QFileInfo::exists(file + QLatin1String(".aria2"))) {
        m_seen[index].keptSize = size;
        return;
    }
    QFile::remove(file);
    QFile::remove(file + QLatin1String(".aria2"));
}

// How many segments are missing, and what the server answers now for the first of them: one
// head request, made only when the task has failed.
QString TM3u8::MissingSegmentsReason() {
    const auto first = std::find_if(Segments.begin(), Segments.end(),
                                    [](const SegmentRec &segment) { return !segment.Done; });
    if (first == Segments.end())
        return QString();
    const int missing = int(std::count_if(Segments.begin(), Segments.end(),
                                          [](const SegmentRec &segment) { return !segment.Done; }));
    const QString probe = WorkDir + QLatin1String("/reason.probe");
    FetchRequest request;
    request.headers = Headers;
    request.maxBytes = ProbeHeadBytes;
    request.cancel = &StopRequested;
    const QString answer =
        FetchableUrl(first->Url).isEmpty() ? QStringLiteral("不能下载的地址 (%1)").arg(first->Url)
        : FetchHeadOnce(first->Url, probe, request)
            ? QStringLiteral("服务器有答复, 但内容不完整或不是媒体数据 (%1)").arg(first->Url)
            : UrlFetcher::LastError();
    QFile::remove(probe);
    return QStringLiteral("缺少 %1 个分段, 第一个: %2").arg(missing).arg(answer);
}

void TM3u8::CheckProgress() {
    // A recording may have lost every segment to the moving window and still go on.
    if (Segments.empty() && !Recording) {
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
        SettleAria2Run(true);
        ClearSegments();
        ReleaseAria2Process();
        EndRun();
        ReportStop();
        return;
    }
    if (Recording) {
        CheckRecording(runEnded);
        return;
    }

    double partialShare = 0;
    // While a run's end is being settled, its files are no news.
    const int present = m_settleNext > 0 ? m_presentCount : CountPresentSegments(partialShare);
    const float percent = float((present + partialShare) * 100.0 / double(Segments.size()));
    if (present > m_presentCount || percent > Percent) {
        LastProgressTick = TickCount();
        m_presentCount = qMax(present, m_presentCount);
        Percent = qMax(percent, Percent);
        ReportProgress(Percent, kDownloading);
        if (!Running)
            return;  // the owner ended the task from within the event
    } else if (!runEnded && quint32(TickCount() - LastProgressTick) > StallLimitMs()) {
        EndAria2Run();
    }

    if (runEnded) {
        if (!SettleAria2Run(false)) {
            QTimer::singleShot(0, &m_context, [this] {
                if (Running && !Merging && !Timer.Enabled())
                    CheckProgress();
            });
            return;
        }
        if (FailedOverCap())
            return;
        // Subtitles that runs no longer bring leave the video as it is.
        if (FinishedCount == int(Segments.size()) ||
            (m_idleRuns >= DownloadRetries && OnlySubtitlesMissing())) {
            Merging = true;
            Merge();
            return;
        }
        if (m_idleRuns >= DownloadRetries) {
            const QString reason = MissingSegmentsReason();
            FailureCleanUp();
            ReportError(kTsFailed, reason);
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
    LoadKeys();
    StartOverIfKeysChanged();
    if (Segments.empty()) {
        FailureCleanUp();
        ReportError(kNoTsList);
        return false;
    }
    // Indexed, because the events below let other handlers run.
    for (size_t i = 0; i < Segments.size(); ++i) {
        if (Segments[i].Done)
            continue;
        SegmentRec &segment = Segments[i];
        const QString file = WorkDir + QLatin1Char('/') + segment.LocalName;
        // The task's headers as aria2c would send them; bound by the segment's cap and the
        // stop, not by the deadline of the small fetches, since a segment may be large.
        FetchRequest request;
        request.headers = Headers;
        request.maxBytes = SegmentCap(segment);
        request.cancel = &StopRequested;
        request.untimed = true;
        const bool fetched = !StopRequested && DownloadFile(segment.Url, file, request);
        if (StopRequested) {
            QFile::remove(file);
            // Kept as after an aria2c run: the record and the list of what is left.
            SaveRecord();
            WriteAria2List();
            ClearSegments();
            EndRun();
            ReportStop();
            return false;
        }
        if (segment.Subtitle && (!fetched || CheckWebVttContent(file) == SegmentContent::Broken)) {
            QFile::remove(file);
            continue;  // left out of the merge, the video kept
        }
        if (!segment.Subtitle && !fetched) {
            const QString reason = UrlFetcher::LastError();
            FailureCleanUp();
            ReportError(kTsFailed, reason);
            return false;
        }
        StripLeadingImage(file, ExpectationFor(segment));
        if (CheckSegmentContent(file, ExpectationFor(segment)) == SegmentContent::Broken) {
            FailureCleanUp();
            ReportError(kTsFailed,
                        QStringLiteral("内容不完整或不是媒体数据 (%1)").arg(segment.Url));
            return false;
        }
        segment.Done = true;
        segment.Size = FileSizeByName(file);
        ++FinishedCount;
        m_presentCount = FinishedCount;
        Percent = float(FinishedCount) * 100.0f / float(Segments.size());
        ReportProgress(Percent, kDownloading);
        LetEventsRun();
    }
    return !Segments.empty();
}
