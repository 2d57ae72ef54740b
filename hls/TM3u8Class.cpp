#include "hls/TM3u8Class.h"

#include "hls/EngineNotice.h"
#include "hls/M3u8Helpers.h"
#include "support/ExternalTools.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"
#include "support/TextUtils.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <stdexcept>

namespace {

quint32 g_stallLimitMs = 300000;

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
const QString kKeyFileName = QStringLiteral("key.key");

void LetEventsRun() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

// Resolves a playlist line against the playlist's address.
// Fetches the first URI line of a playlist into `probe` and tells whether it is itself a
// playlist (a master's variant); the probe file is gone afterwards either way.
bool ProbeIsPlaylist(const QString &url, const QString &probe, const QString &headers) {
    if (!DownloadFile(url, probe))
        Aria2DownloadFile(url, probe, headers);
    const bool isPlaylist = IsM3u8File(probe);
    QFile::remove(probe);
    return isPlaylist;
}

QString Absolute(const QString &line, const QString &root, const QString &dir) {
    if (IsUrl(line))
        return line;
    return line.startsWith(QLatin1Char('/')) ? root + line : dir + line;
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
    Timer.SetEnabled(false);
    Url.clear();
    Headers.clear();
    KeyUrl.clear();
    OutFile.clear();
    WorkId.clear();
    WorkDir.clear();
    ReleaseAria2Process();
}

void TM3u8::SetUrl(const QString &url) {
    const QString trimmed = url.trimmed();
    if (trimmed.isEmpty())
        return;
    Reset();
    Url = trimmed;
    WorkId = Crc32Hex(Url);
    WorkDir = TempDir + QLatin1Char('/') + WorkId;
    if (QFileInfo::exists(WorkDir))
        DeleteToRecycleBin(WorkDir, true);
    if (!QFileInfo::exists(WorkDir) && !QDir().mkpath(WorkDir))
        throw std::runtime_error(
            QStringLiteral("Cannot create folder %1").arg(WorkDir).toLocal8Bit().toStdString());
    IndexFile = WorkDir + QLatin1String("/index.m3u8");
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
    if (!AnalyseM3u8(Url, Headers))
        return;
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
}

void TM3u8::DeleteWorkDir() {
    if (!WorkId.isEmpty() && QFileInfo::exists(WorkDir))
        DeleteToRecycleBin(WorkDir, true);
}

void TM3u8::ReleaseAria2Process() {
    if (!Aria2Process)
        return;
    QProcess *process = Aria2Process;
    Aria2Process = nullptr;
    EndProcess(process);
    delete process;
}

void TM3u8::FailureCleanUp() {
    ClearSegments();
    ReleaseAria2Process();
    DeleteWorkDir();
    Running = false;
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

void TM3u8::AddSegment(const QString &url, int n, int width) {
    SegmentRec segment;
    segment.Url = url;
    segment.LocalName =
        (QString(width, QLatin1Char('0')) + QString::number(n)).right(width) + QLatin1String(".ts");
    Segments.push_back(segment);
}

bool TM3u8::AnalyseM3u8(QString url, const QString &headers) {
    if (url.isEmpty())
        return false;
    ReportProgress(Percent, kAnalysing);

    int nesting = 0;
    for (;;) {
        ClearSegments();
        KeyUrl.clear();
        int n = 0;

        if (!IsUrl(url)) {
            if (QFileInfo(url).isFile())
                return AnalyseLocalM3u8(url);
            Running = false;
            ReportError(kInvalidM3u8);
            return false;
        }

        // A failed fetch keeps the old file, which must not pass for the new playlist.
        QFile::remove(IndexFile);
        bool fetched;
        if (!headers.isEmpty())
            fetched = Aria2DownloadFile(url, IndexFile, headers) || DownloadFile(url, IndexFile);
        else
            fetched = DownloadFile(url, IndexFile);
        if (!fetched || !IsM3u8File(IndexFile)) {
            ClearSegments();
            Running = false;
            ReportError(kInvalidM3u8);
            return false;
        }

        const QString root = GetUrlRoot(url);
        const QString dir = GetUrlDir(url);
        QStringList lines;
        if (LoadTextFile(IndexFile, lines, true) == 0) {
            FailureCleanUp();
            ReportError(kInvalidM3u8);
            return false;
        }
        const int width = DecimalDigits(lines.size());

        bool nested = false;
        for (int i = 0; i < lines.size(); ++i) {
            QString line = lines.at(i).trimmed();
            lines[i] = line;
            if (!line.startsWith(QLatin1Char('#'))) {
                line = Absolute(line, root, dir);
                lines[i] = line;
                ++n;
                if (n == 1) {
                    const QString probe =
                        TempDir + QLatin1Char('/') + Crc32Hex(line) + QLatin1String(".m3u8");
                    if (ProbeIsPlaylist(line, probe, Headers)) {
                        url = line;
                        nested = true;
                        break;
                    }
                }
                AddSegment(line, n, width);
                lines[i] = Segments.back().LocalName;
            } else if (IsKeyLine(line)) {
                KeyUrl = Absolute(GetKeyUri(line), root, dir);
                lines[i] = ReplaceKeyUri(line, kKeyFileName);
            }
            LetEventsRun();
        }

        if (nested) {
            if (++nesting > MaxPlaylistNesting) {
                FailureCleanUp();
                ReportError(kInvalidM3u8);
                return false;
            }
            continue;
        }
        if (n > 0 && SaveTextFile(lines, IndexFile))
            return true;
        FailureCleanUp();
        ReportError(kInvalidM3u8);
        return false;
    }
}

bool TM3u8::AnalyseLocalM3u8(const QString &path) {
    QStringList lines;
    if (LoadTextFile(path, lines, true) == 0) {
        FailureCleanUp();
        ReportError(kInvalidM3u8);
        return false;
    }
    const int width = DecimalDigits(lines.size());
    int n = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        lines[i] = line;
        if (!line.startsWith(QLatin1Char('#')) && IsUrl(line)) {
            ++n;
            AddSegment(line, n, width);
            lines[i] = Segments.back().LocalName;
        } else if (IsKeyLine(line)) {
            KeyUrl = GetKeyUri(line);
            lines[i] = ReplaceKeyUri(line, kKeyFileName);
        }
    }
    if (n > 0 && SaveTextFile(lines, IndexFile))
        return true;
    FailureCleanUp();
    ReportError(kInvalidM3u8);
    return false;
}

bool TM3u8::StartAria2() {
    if (!KeyUrl.isEmpty()) {
        const QString keyFile = WorkDir + QLatin1Char('/') + kKeyFileName;
        if (!Aria2DownloadFile(KeyUrl, keyFile, Headers)) {
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
    Aria2Runs = 0;
    RunAria2();
    if (Aria2Process)
        ReportProgress(Percent, kDownloading);
    return true;
}

bool TM3u8::WriteAria2List() {
    if (Segments.empty())
        return false;
    ListFile = WorkDir + QLatin1Char('/') + WorkId + QLatin1String(".lst");
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
    const QString params = Aria2ListParamLine(ListFile, WorkDir, Headers);
    ReleaseAria2Process();
    Aria2Process =
        RunProcessHandle(Aria2Path, params, kShowHidden, false, QFileInfo(OutFile).absolutePath());
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

void TM3u8::CheckProgress() {
    if (Segments.empty()) {
        FailureCleanUp();
        ReportError(kNoTsList);
        return;
    }
    if (StopRequested) {
        ClearSegments();
        ReleaseAria2Process();
        DeleteWorkDir();
        Running = false;
        ReportStop();
        return;
    }

    int a = FinishedCount;
    for (auto it = Segments.rbegin(); it != Segments.rend(); ++it) {
        if (it->Done)
            continue;
        // aria2c creates the file a moment before its control file, so an empty file without
        // a control file is still in progress.
        const QString file = WorkDir + QLatin1Char('/') + it->LocalName;
        if (FileSizeByName(file) >= 1 && !QFileInfo::exists(file + QLatin1String(".aria2"))) {
            it->Done = true;
            ++a;
        }
    }

    if (a == FinishedCount) {
        if (quint32(TickCount() - LastProgressTick) > g_stallLimitMs)
            EndProcess(Aria2Process);
        const bool ended = !Aria2Process || Aria2Process->state() == QProcess::NotRunning ||
                           Aria2Process->waitForFinished(100);
        if (ended) {
            if (Aria2Runs < quint32(DownloadRetries)) {
                RunAria2();
                if (!Aria2Process)
                    return;
            } else {
                FailureCleanUp();
                ReportError(kTsFailed);
                return;
            }
        }
    } else {
        LastProgressTick = TickCount();
        FinishedCount = a;
        Percent = float(a) * 100.0f / float(Segments.size());
        ReportProgress(Percent, kDownloading);
        if (!Running)
            return;  // the owner ended the task from within the event
    }

    if (FinishedCount == int(Segments.size())) {
        Merging = true;
        Merge();
    } else {
        Timer.SetEnabled(true);
    }
}

bool TM3u8::DownloadSegmentsDirect() {
    FinishedCount = 0;
    if (!KeyUrl.isEmpty() && !DownloadFile(KeyUrl, WorkDir + QLatin1Char('/') + kKeyFileName)) {
        FailureCleanUp();
        ReportError(kKeyFailed);
        return false;
    }
    if (Segments.empty()) {
        FailureCleanUp();
        ReportError(kNoTsList);
        return false;
    }
    // Indexed, because the events below let other handlers run.
    for (size_t i = 0; i < Segments.size(); ++i) {
        if (StopRequested) {
            FailureCleanUp();
            ReportStop();
            return false;
        }
        const SegmentRec &segment = Segments[i];
        if (!DownloadFile(segment.Url, WorkDir + QLatin1Char('/') + segment.LocalName)) {
            FailureCleanUp();
            ReportError(kTsFailed);
            return false;
        }
        ++FinishedCount;
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
    const QString params = MergeParamLine(IndexFile, FFmpegParams, OutFile);
    ReportProgress(90.0f, kMerging);

    const FileSnapshot before = FileSnapshot::Of(OutFile);
    QProcess *process = RunProcessHandle(ffmpeg, params, kShowHidden, true, WorkDir);
    const bool started = process != nullptr;
    delete process;

    ClearSegments();
    ReleaseAria2Process();
    DeleteWorkDir();
    Running = false;

    if (!started) {
        ReportError(kFFmpegStartFailed);
        return false;
    }
    const FileSnapshot after = FileSnapshot::Of(OutFile);
    if (after.exists && after.size >= 1 && (!before.exists || !(after == before))) {
        if (OnFinish)
            OnFinish(TaskId);
        return true;
    }
    ReportError(kMergeFailed);
    return false;
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
        const QString root = GetUrlRoot(current);
        const QString dir = GetUrlDir(current);
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
                line = Absolute(line, root, dir);
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
            } else if (IsKeyLine(line)) {
                lines[i] = ReplaceKeyUri(line, Absolute(GetKeyUri(line), root, dir));
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
