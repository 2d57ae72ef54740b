#include "hls/TM3u8Class.h"

#include "hls/EngineNotice.h"
#include "hls/M3u8Helpers.h"
#include "support/ExternalTools.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"
#include "support/TextUtils.h"
#include "support/WorkFolders.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <utility>

namespace {

quint32 g_stallLimitMs = 300000;
quint32 g_mergeStallLimitMs = 60000;

const QString kAnalysing = QStringLiteral("分析中");
const QString kDownloading = QStringLiteral("下载中");
const QString kMerging = QStringLiteral("合并中");
const QString kInvalidM3u8 = QStringLiteral("m3u8无效");
const QString kKeyFailed = QStringLiteral("key下载失败");
const QString kBadKey = QStringLiteral("不支持的加密key");
const QString kNoTsList = QStringLiteral("无ts列表");
const QString kTsFailed = QStringLiteral("ts下载失败");
const QString kAria2StartFailed = QStringLiteral("Aria2启动失败");
const QString kFFmpegMissing = QStringLiteral("ffmpeg程序缺失");
const QString kFFmpegStartFailed = QStringLiteral("ffmpeg启动失败");
const QString kMergeFailed = QStringLiteral("合并失败");

void LetEventsRun() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

// Fetches the head of the first URI line of a playlist into `probe` and tells whether it is
// itself a playlist (a master's variant); the probe file is gone afterwards either way. Only
// the head, so a media segment is not fetched twice.
bool ProbeIsPlaylist(const QString &url, const QString &probe, const QString &headers) {
    if (!DownloadFileHead(url, probe, ProbeHeadBytes))
        Aria2DownloadFile(url, probe, headers);
    const bool isPlaylist = IsM3u8File(probe);
    QFile::remove(probe);
    return isPlaylist;
}

// A failed fetch keeps the old file, which must not pass for the new playlist.
bool FetchPlaylist(const QString &url, const QString &file, const QString &headers) {
    QFile::remove(file);
    bool fetched;
    if (!headers.isEmpty())
        fetched = Aria2DownloadFile(url, file, headers) || DownloadFile(url, file);
    else
        fetched = DownloadFile(url, file);
    return fetched && IsM3u8File(file);
}

// The separate audio of a master's variant (the first entry when `variant` is empty), resolved
// against the master's address; empty when its audio is muxed in.
QString AudioRenditionUrl(const QStringList &lines, const QString &variant,
                          const QString &masterUrl) {
    const QString uri = AudioRenditionUri(lines, variant);
    return uri.isEmpty() ? QString() : ResolveUrl(uri, masterUrl);
}

// Lines marked for removal (null strings) leave the local playlist.
void DropRemovedLines(QStringList &lines) {
    lines.removeIf([](const QString &line) { return line.isNull(); });
}

int DecimalDigits(int value) {
    return QString::number(value).size();
}

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
    m_lock.reset();
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
    const QFileInfo existing(WorkDir);
    const bool resumable =
        existing.isDir() && !existing.isSymLink() && QFileInfo(RecordFile).isFile();
    if (existing.exists() && !resumable)
        DeleteToRecycleBin(WorkDir, true);
    if (!QFileInfo::exists(WorkDir) && !QDir().mkpath(WorkDir))
        throw std::runtime_error(
            QStringLiteral("Cannot create folder %1").arg(WorkDir).toLocal8Bit().toStdString());
    IndexFile = WorkDir + QLatin1Char('/') + WorkIndexFileName();
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
    TakeLock();
    m_record = LoadSegmentRecord(RecordFile);
    if (!AnalyseM3u8(Url, Headers))
        return;
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
}

void TM3u8::DeleteWorkDir() {
    m_lock.reset();
    if (!WorkId.isEmpty() && QFileInfo::exists(WorkDir))
        DeleteToRecycleBin(WorkDir, true);
}

void TM3u8::EndRun() {
    Running = false;
    m_lock.reset();
}

void TM3u8::TakeLock() {
    m_lock = std::make_unique<QLockFile>(WorkDir + QLatin1Char('/') + WorkLockFileName(WorkId));
    m_lock->setStaleLockTime(0);
    // The lock only keeps clean-ups away; a task that cannot take it still runs.
    if (!m_lock->tryLock(0))
        m_lock.reset();
}

void TM3u8::SaveRecord() {
    SegmentRecord record;
    record.reserve(Segments.size());
    for (const SegmentRec &segment : Segments)
        record.push_back(
            {segment.Done, segment.Done ? segment.Size : 0, segment.LocalName, segment.Url});
    SaveSegmentRecord(RecordFile, record);
}

bool TM3u8::IsKnownSegment(const QString &url) const {
    return std::any_of(m_record.begin(), m_record.end(),
                       [&url](const SegmentRecordEntry &entry) { return entry.Url == url; });
}

// Keeps the segments the record calls complete when the analysis gave the same segments under
// the same names and their files are as the record left them; any other folder starts over.
// Their content was checked when they were settled, so it is not read again here: a resumed
// download of a thousand segments would otherwise start by reading all of them.
void TM3u8::ResumeFromRecord() {
    bool same = m_record.size() == Segments.size();
    for (size_t i = 0; same && i < Segments.size(); ++i)
        same = m_record[i].LocalName == Segments[i].LocalName && m_record[i].Url == Segments[i].Url;
    if (!same)
        ClearFolderForFreshStart();
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
        } else if (same) {
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
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.absoluteFilePath()).removeRecursively();
        else
            QFile::remove(entry.absoluteFilePath());
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

void TM3u8::ReportError(const QString &message) {
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

void TM3u8::AddSegment(const QString &url, int n, int width, const QString &prefix) {
    SegmentRec segment;
    segment.Url = url;
    segment.LocalName = prefix +
                        (QString(width, QLatin1Char('0')) + QString::number(n)).right(width) +
                        QLatin1String(".ts");
    Segments.push_back(segment);
}

int TM3u8::AddKey(const QString &url) {
    int index = int(KeyUrls.indexOf(url));
    if (index < 0) {
        index = int(KeyUrls.size());
        KeyUrls << url;
    }
    return index;
}

// An initialisation section is fetched like a segment, and counts as one for progress; lines
// naming the same address share its file.
QString TM3u8::AddMap(const QString &url) {
    int index = int(MapUrls.indexOf(url));
    if (index < 0) {
        index = int(MapUrls.size());
        MapUrls << url;
        SegmentRec segment;
        segment.Url = url;
        segment.LocalName = MapFileName(index);
        Segments.push_back(segment);
    }
    return MapFileName(index);
}

// The local name for a segment line. Ranges of one resource (the init section's included)
// share one file, fetched once; every other line gets a file of its own.
QString TM3u8::AddMediaLine(const QString &url, int n, int width, bool byteRange,
                            const QString &prefix) {
    if (byteRange) {
        for (const SegmentRec &segment : Segments) {
            if (segment.Url == url)
                return segment.LocalName;
        }
    }
    AddSegment(url, n, width, prefix);
    return Segments.back().LocalName;
}

bool TM3u8::AnalyseM3u8(QString url, const QString &headers) {
    if (url.isEmpty())
        return false;
    ReportProgress(Percent, kAnalysing);
    AudioUrl.clear();
    AudioFile.clear();

    int nesting = 0;
    for (;;) {
        ClearSegments();
        KeyUrl.clear();
        KeyUrls.clear();
        MapUrls.clear();
        int n = 0;

        if (!IsUrl(url)) {
            if (QFileInfo(url).isFile())
                return AnalyseLocalM3u8(url);
            EndRun();
            ReportError(kInvalidM3u8);
            return false;
        }

        if (!FetchPlaylist(url, IndexFile, headers)) {
            ClearSegments();
            EndRun();
            ReportError(kInvalidM3u8);
            return false;
        }

        QStringList lines;
        if (LoadTextFile(IndexFile, lines, true) == 0) {
            FailureCleanUp();
            ReportError(kInvalidM3u8);
            return false;
        }
        const QString variant = ChooseVariant(lines, VariantPreference);
        if (!variant.isEmpty()) {
            AudioUrl = AudioRenditionUrl(lines, variant, url);
            url = ResolveUrl(variant, url);
            if (++nesting > MaxPlaylistNesting) {
                FailureCleanUp();
                ReportError(kInvalidM3u8);
                return false;
            }
            continue;
        }

        // Taken before the walk changes the lines; it counts only if the playlist turns out
        // to be a master, its first entry being followed.
        const QString firstEntryAudio = AudioRenditionUrl(lines, QString(), url);
        bool nested = false;
        n = WalkMediaLines(lines, url, QString(), true, nested);

        if (nested) {
            AudioUrl = firstEntryAudio;
            if (++nesting > MaxPlaylistNesting) {
                FailureCleanUp();
                ReportError(kInvalidM3u8);
                return false;
            }
            continue;
        }
        DropRemovedLines(lines);
        EnsureEndList(lines);
        if (n > 0 && SaveTextFile(lines, IndexFile) &&
            (AudioUrl.isEmpty() || AnalyseAudioM3u8(headers)))
            return true;
        FailureCleanUp();
        ReportError(kInvalidM3u8);
        return false;
    }
}

// The per-line walk of a media playlist: address lines become local names (with `prefix`), key
// and map lines point at their local files, other tags go as LocalTagLine says. With
// `probeFirst`, a first address line that is itself a playlist ends the walk: `url` becomes
// that address and `nested` is set. Returns the number of address lines seen.
int TM3u8::WalkMediaLines(QStringList &lines, QString &url, const QString &prefix, bool probeFirst,
                          bool &nested) {
    const int width = DecimalDigits(lines.size());
    int n = 0;
    nested = false;
    bool byteRange = false;
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i).trimmed();
        lines[i] = line;
        if (!line.startsWith(QLatin1Char('#'))) {
            line = ResolveUrl(line, url);
            lines[i] = line;
            ++n;
            // A line the folder's record holds as a segment needs no probe on resuming.
            if (n == 1 && probeFirst && !IsKnownSegment(line)) {
                const QString probe =
                    TempDir + QLatin1Char('/') + Crc32Hex(line) + QLatin1String(".m3u8");
                if (ProbeIsPlaylist(line, probe, Headers)) {
                    url = line;
                    nested = true;
                    break;
                }
            }
            lines[i] = AddMediaLine(line, n, width, byteRange, prefix);
            byteRange = false;
        } else if (IsKeyLine(line)) {
            KeyUrl = ResolveUrl(GetKeyUri(line), url);
            lines[i] = ReplaceKeyUri(line, KeyFileName(AddKey(KeyUrl)));
        } else if (IsMapLine(line)) {
            lines[i] = ReplaceKeyUri(line, AddMap(ResolveUrl(GetKeyUri(line), url)));
        } else {
            byteRange = byteRange || IsByteRangeLine(line);
            lines[i] = LocalTagLine(line);
        }
        LetEventsRun();
    }
    return n;
}

// The variant's separate audio: its media playlist is walked like the video's and written as
// "audio.m3u8" beside index.m3u8. Its segments join Segments under names of their own (keys
// and init sections get their own files through AddKey and AddMap), so progress, the runs and
// the done rule cover them as they are.
bool TM3u8::AnalyseAudioM3u8(const QString &headers) {
    const QString file = WorkDir + QLatin1String("/audio.m3u8");
    QStringList lines;
    if (!FetchPlaylist(AudioUrl, file, headers) || LoadTextFile(file, lines, true) == 0)
        return false;
    // KeyUrl stays the video's key.
    const QString videoKey = KeyUrl;
    QString url = AudioUrl;
    bool nested = false;
    const int n = WalkMediaLines(lines, url, QStringLiteral("a"), false, nested);
    KeyUrl = videoKey;
    DropRemovedLines(lines);
    EnsureEndList(lines);
    if (n == 0 || !SaveTextFile(lines, file))
        return false;
    AudioFile = file;
    return true;
}

bool TM3u8::AnalyseLocalM3u8(const QString &path) {
    // A local playlist is a media playlist: no separate audio.
    AudioUrl.clear();
    AudioFile.clear();
    QStringList lines;
    if (LoadTextFile(path, lines, true) == 0) {
        FailureCleanUp();
        ReportError(kInvalidM3u8);
        return false;
    }
    const int width = DecimalDigits(lines.size());
    int n = 0;
    bool byteRange = false;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        lines[i] = line;
        if (!line.startsWith(QLatin1Char('#'))) {
            const bool range = std::exchange(byteRange, false);
            if (IsUrl(line)) {
                ++n;
                lines[i] = AddMediaLine(line, n, width, range);
            } else {
                // A relative line would make the merge read a file outside the work folder;
                // its duration goes with it.
                lines[i] = QString();
                if (i > 0 && lines.at(i - 1).left(8).toUpper() == QLatin1String("#EXTINF:"))
                    lines[i - 1] = QString();
            }
        } else if (IsKeyLine(line)) {
            KeyUrl = GetKeyUri(line);
            lines[i] = ReplaceKeyUri(line, KeyFileName(AddKey(KeyUrl)));
        } else if (IsMapLine(line) && IsUrl(GetKeyUri(line))) {
            lines[i] = ReplaceKeyUri(line, AddMap(GetKeyUri(line)));
        } else {
            byteRange = byteRange || IsByteRangeLine(line);
            lines[i] = LocalTagLine(line);
        }
    }
    DropRemovedLines(lines);
    EnsureEndList(lines);
    if (n > 0 && SaveTextFile(lines, IndexFile))
        return true;
    FailureCleanUp();
    ReportError(kInvalidM3u8);
    return false;
}

// Each distinct key once, into its own file; a key that is not 16 bytes long cannot decrypt.
bool TM3u8::FetchKeys(bool withAria2) {
    for (int i = 0; i < KeyUrls.size(); ++i) {
        const QString keyFile = WorkDir + QLatin1Char('/') + KeyFileName(i);
        // Fetched afresh at every start: aria2c would take a kept file for complete.
        QFile::remove(keyFile);
        const bool fetched = withAria2 ? Aria2DownloadFile(KeyUrls.at(i), keyFile, Headers)
                                       : DownloadFile(KeyUrls.at(i), keyFile);
        if (!fetched) {
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
    QStringList lines;
    for (const SegmentRec &segment : Segments) {
        if (segment.Done)
            continue;
        // An address that may not be fetched stays out of the list: it never arrives, and the
        // runs end as for any segment that cannot be fetched.
        const QString address = FetchableUrl(segment.Url);
        if (address.isEmpty())
            continue;
        lines << address << QLatin1String(" out=") + segment.LocalName;
    }
    return SaveTextFile(lines, ListFile);
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
    const QString params =
        Aria2ListParamLine(ListFile, WorkDir, Headers, SessionFile, SegmentConcurrency);
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
    } else if (!runEnded && quint32(TickCount() - LastProgressTick) > g_stallLimitMs) {
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
    watchdog.setInterval(int(qBound<quint32>(20, g_mergeStallLimitMs / 4, 1000)));
    QObject::connect(&watchdog, &QTimer::timeout, &watchdog, [&] {
        const qint64 size = FileSizeByName(OutFile);
        if (size != lastSize) {
            lastSize = size;
            sinceGrowth.restart();
        } else if (!stalled && guard && sinceGrowth.elapsed() > qint64(g_mergeStallLimitMs)) {
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

bool TM3u8::SaveFullUrlM3u8(const QString &url, const QString &outFile, const QString &headers) {
    if (url.isEmpty() || !IsUrl(url) || outFile.isEmpty())
        return false;
    if (QFileInfo::exists(outFile))
        QFile::remove(outFile);

    const QString tempDir = GetTempDir();
    QString current = url;
    int nesting = 0;
    for (;;) {
        const QString tmp =
            tempDir + QLatin1Char('/') + Crc32Hex(current + outFile) + QLatin1String(".m3u8");
        QFile::remove(tmp);
        if (!DownloadFile(current, tmp) && !Aria2DownloadFile(current, tmp, headers))
            return false;
        QStringList lines;
        const int loaded = LoadTextFile(tmp, lines, true);
        QFile::remove(tmp);
        if (loaded == 0)
            return false;

        int n = 0;
        bool nested = false;
        for (int i = 0; i < lines.size(); ++i) {
            QString line = lines.at(i).trimmed();
            lines[i] = line;
            if (!line.startsWith(QLatin1Char('#'))) {
                line = ResolveUrl(line, current);
                lines[i] = line;
                ++n;
                if (n == 1) {
                    const QString probe = tempDir + QLatin1Char('/') + Crc32Hex(line + outFile) +
                                          QLatin1String(".ts");
                    if (ProbeIsPlaylist(line, probe, headers)) {
                        current = line;
                        nested = true;
                        break;
                    }
                }
            } else if (IsKeyLine(line) || IsMapLine(line)) {
                lines[i] = ReplaceKeyUri(line, ResolveUrl(GetKeyUri(line), current));
            }
            LetEventsRun();
        }
        if (nested) {
            if (++nesting > MaxPlaylistNesting)
                return false;
            continue;
        }
        if (n == 0)
            return false;
        return SaveTextFile(lines, outFile);
    }
}
