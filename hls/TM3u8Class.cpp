#include "hls/TM3u8Class.h"

#include "hls/LiveRecording.h"
#include "hls/M3u8Helpers.h"
#include "hls/TM3u8Status.h"
#include "support/ExternalTools.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"
#include "support/WorkFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <stdexcept>

using namespace TM3u8Status;

namespace {

quint32 g_stallLimitMs = 300000;
quint32 g_mergeStallLimitMs = 60000;
// Far beyond any real segment (a 10 s 4K segment is tens of MiB), still a bound on the disk.
qint64 g_segmentMaxBytes = qint64(1) << 30;

}  // namespace

TM3u8::TM3u8() {
    Timer.SetEnabled(false);
    Timer.SetInterval(500);
    Timer.SetOnTimer([this] { TimerTimer(); });
    TempDir = GetTempDir();
    FFmpegParams = QStringLiteral("-c copy");
    Aria2Path = ExternalTools::Instance().Aria2Path();
    NoAria2 = Aria2Path.isEmpty();
    Reset();
}

TM3u8::~TM3u8() {
    Timer.SetEnabled(false);
    ReleaseAria2Process();
    ClearSegments();
}

void TM3u8::SetStallLimitMs(quint32 ms) {
    g_stallLimitMs = ms;
}

quint32 TM3u8::StallLimitMs() {
    return g_stallLimitMs;
}

void TM3u8::SetSegmentMaxBytes(qint64 bytes) {
    g_segmentMaxBytes = bytes;
}

qint64 TM3u8::SegmentMaxBytes() {
    return g_segmentMaxBytes;
}

void TM3u8::SetMergeStallLimitMs(quint32 ms) {
    g_mergeStallLimitMs = ms;
}

quint32 TM3u8::MergeStallLimitMs() {
    return g_mergeStallLimitMs;
}

quint32 TM3u8::TickCount() {
    using namespace std::chrono;
    return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void TM3u8::Reset() {
    Running = false;
    Merging = false;
    StopRequested = false;
    FinishedCount = 0;
    Percent = 0;
    Aria2Runs = 0;
    m_presentCount = 0;
    m_idleRuns = 0;
    m_oversize = -1;
    m_endingAria2 = false;
    Timer.SetEnabled(false);
    Url.clear();
    Headers.clear();
    KeyUrl.clear();
    KeyUrls.clear();
    MapUrls.clear();
    AudioUrl.clear();
    AudioFile.clear();
    OutFile.clear();
    WorkId.clear();
    WorkDir.clear();
    m_record.clear();
    m_keySums.clear();
    m_keys.clear();
    m_bytesSeen = 0;
    m_lock.reset();
    m_busyElsewhere = false;
    Recording = false;
    LiveMissed = 0;
    LiveDurationLimit = 0;
    m_live.reset();
    ReleaseAria2Process();
}

void TM3u8::SetUrl(const QString &url) {
    const QString trimmed = url.trimmed();
    if (trimmed.isEmpty())
        return;
    Reset();
    Url = trimmed;
    WorkId = WorkIdFor(Url);
    WorkDir = TempDir + QLatin1Char('/') + WorkId;
    RecordFile = WorkDir + QLatin1Char('/') + WorkRecordFileName(WorkId);
    IndexFile = WorkDir + QLatin1Char('/') + WorkIndexFileName();
    if (!MakePrivateDir(TempDir) || !MakePrivateDir(WorkDir))
        throw std::runtime_error(
            QStringLiteral("Cannot create folder %1").arg(WorkDir).toLocal8Bit().toStdString());
    // Nothing in the folder is touched before its lock is held: another run of the address
    // would lose its segments.
    if (!TakeLock())
        return;
    const QFileInfo record(RecordFile);
    if (!record.isFile() || record.isSymLink())
        DiscardWorkDirContents(WorkDir);
}

void TM3u8::SetOutput(const QString &path) {
    OutFile = path;
    OutName = QFileInfo(path).fileName();
    const int dot = OutName.lastIndexOf(QLatin1Char('.'));
    const QString ext = dot >= 0 ? OutName.mid(dot).toLower() : QString();
    if (ext != QLatin1String(".mp4"))
        OutFile += QLatin1String(".mp4");
    if (dot >= 0)
        OutName.truncate(dot);
}

void TM3u8::Start() {
    StopRequested = false;
    Running = true;
    if (Url.isEmpty()) {
        // Nothing to run; the slot stays free rather than busy for ever.
        Running = false;
        return;
    }
    if (!m_lock && !TakeLock()) {
        Running = false;
        if (m_busyElsewhere)
            ReportError(kBusyElsewhere);
        else
            ReportError(QStringLiteral("Cannot lock folder %1").arg(WorkDir));
        return;
    }
    m_record = LoadSegmentRecord(RecordFile, &m_keySums);
    if (!AnalyseM3u8(Url, Headers))
        return;
    BeginRecording();
    ResumeFromRecord();
    if (NoAria2) {
        if (DownloadSegmentsDirect())
            Merge();
        ClearSegments();
    } else {
        StartAria2();
    }
}

void TM3u8::Stop() {
    StopRequested = true;
}

void TM3u8::ClearSegments() {
    Timer.SetEnabled(false);
    Segments.clear();
    m_seen.clear();
    m_settleNext = 0;
    m_pollNext = 0;
}

void TM3u8::DeleteWorkDir() {
    // Only the run holding the folder's lock removes it, and the lock goes last.
    if (m_lock && !WorkId.isEmpty())
        RemoveLockedWorkDir(WorkDir, m_lock);
    m_lock.reset();
}

void TM3u8::DiscardWorkDir() {
    if (Running || WorkId.isEmpty() || m_busyElsewhere || !QFileInfo(WorkDir).isDir())
        return;
    if (m_lock || TakeLock())
        DeleteWorkDir();
}

void TM3u8::EndRun() {
    Running = false;
    m_lock.reset();
}

bool TM3u8::TakeLock() {
    m_busyElsewhere = LockWorkDir(WorkDir, m_lock) == WorkDirLock::HeldElsewhere;
    return m_lock != nullptr;
}

void TM3u8::SaveRecord() {
    SegmentRecord record;
    record.reserve(Segments.size());
    for (const SegmentRec &segment : Segments)
        record.push_back(
            {segment.Done, segment.Done ? segment.Size : 0, segment.LocalName, segment.Url});
    SaveSegmentRecord(RecordFile, record, m_keySums);
}

bool TM3u8::IsKnownSegment(const QString &url) const {
    return std::any_of(m_record.begin(), m_record.end(),
                       [&url](const SegmentRecordEntry &entry) { return entry.Url == url; });
}

// Keeps the segments the record calls complete when the analysis gave the same segments under
// the same names and their files are as the record left them; any other folder starts over.
// Their content was checked when they were settled, so it is not read again here: a resumed
// download of a thousand segments would otherwise start by reading all of them. Whether the
// keys are still the recorded ones is known once they are fetched (StartOverIfKeysChanged).
// A partial file with aria2c's control file stays for aria2c to continue.
void TM3u8::ResumeFromRecord() {
    bool same = m_record.size() == Segments.size();
    for (size_t i = 0; same && i < Segments.size(); ++i)
        same = m_record[i].LocalName == Segments[i].LocalName && m_record[i].Url == Segments[i].Url;
    if (!same) {
        ClearFolderForFreshStart();
        m_keySums.clear();
    }
    int done = 0;
    for (size_t i = 0; i < Segments.size(); ++i) {
        SegmentRec &segment = Segments[i];
        const QString file = WorkDir + QLatin1Char('/') + segment.LocalName;
        segment.Done = same && m_record[i].Done && m_record[i].Size >= 1 &&
                       FileSizeByName(file) == m_record[i].Size &&
                       !QFileInfo::exists(file + QLatin1String(".aria2"));
        segment.Size = segment.Done ? m_record[i].Size : 0;
        if (segment.Done) {
            ++done;
        } else if (same && !(QFileInfo::exists(file + QLatin1String(".aria2")) &&
                             QFileInfo::exists(file))) {
            QFile::remove(file);
            QFile::remove(file + QLatin1String(".aria2"));
        }
    }
    m_record.clear();
    FinishedCount = done;
    m_presentCount = done;
    Percent = Segments.empty() ? 0.0f : float(done) * 100.0f / float(Segments.size());
    SaveRecord();
}

// Everything but the playlists the analysis has just written and the lock.
void TM3u8::ClearFolderForFreshStart() {
    QDir dir(WorkDir);
    const QString lockName = WorkLockFileName(WorkId);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo &entry : entries) {
        if (entry.fileName() == lockName || entry.suffix() == QLatin1String("m3u8"))
            continue;
        RemoveOutright(entry.absoluteFilePath());
    }
}

void TM3u8::ReleaseAria2Process() {
    if (!Aria2Process)
        return;
    QProcess *process = Aria2Process;
    Aria2Process = nullptr;
    m_endingAria2 = false;
    // Never a blocking wait: the window would freeze while aria2c takes its time to go.
    EndProcessLater(process, EndGraceMs);
}

void TM3u8::FailureCleanUp() {
    ClearSegments();
    ReleaseAria2Process();
    DeleteWorkDir();
    EndRun();
}

// A stop asked for while a fetch ran is a stop, and keeps the folder for the next start.
bool TM3u8::FailOrStop(const QString &status, const QString &reason) {
    if (StopRequested) {
        ClearSegments();
        EndRun();
        ReportStop();
        return false;
    }
    FailureCleanUp();
    ReportError(status, reason);
    return false;
}

void TM3u8::ReportError(const QString &message, const QString &reason) {
    FailReason = reason;
    if (OnError)
        OnError(TaskId, message);
}

void TM3u8::ReportProgress(float percent, const QString &status) {
    if (OnProgress)
        OnProgress(TaskId, OutName, percent, status);
}

void TM3u8::ReportStop() {
    if (OnStop)
        OnStop(TaskId);
}
