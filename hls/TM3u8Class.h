#pragma once
// One download slot (unit TM3u8Class): analyses an HLS playlist, has its segments fetched by
// aria2c (or one by one without it) into a work folder and merges them with ffmpeg.

#include "hls/SegmentContent.h"
#include "hls/SegmentRecord.h"
#include "hls/Subtitles.h"
#include "support/MyTimer.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QLockFile;
class QProcess;
struct LiveRecordingState;
struct MediaPlaylist;
struct Playlist;
struct PlaylistKey;
struct PlaylistMap;
struct PlaylistSegment;

struct SegmentRec {
    QString Url;        // absolute address
    QString LocalName;  // file name inside WorkDir
    bool Done = false;  // the file is complete
    qint64 Size = 0;    // its size once complete, as the folder's record keeps it
    // What the done rule can check the content against. Key: the index into KeyUrls of the
    // AES-128 key the whole file is encrypted with (-1: clear, another method, or a file of
    // byte ranges), Iv its 16-byte IV (explicit, or the media sequence number). MinSize: the
    // bytes the file must hold at least (the end of the last byte range taken from it).
    int Key = -1;
    QByteArray Iv;
    qint64 MinSize = 0;
    // A WebVTT segment of a subtitle rendition: judged as WebVTT, and not needed for the video.
    bool Subtitle = false;
};

class TM3u8 {
public:
    using ErrorEvent = std::function<void(int TaskId, const QString &Message)>;
    using TaskEvent = std::function<void(int TaskId)>;
    using ProgressEvent =
        std::function<void(int TaskId, const QString &Name, float Percent, const QString &Status)>;

    TM3u8();
    ~TM3u8();
    TM3u8(const TM3u8 &) = delete;
    TM3u8 &operator=(const TM3u8 &) = delete;

    // Resets the object, takes the lock of the address's work folder and prepares the folder:
    // one that a stopped run left is kept for Start to resume from, anything else there is
    // cleared. When another download holds the lock nothing is touched, and Start reports
    // kBusyElsewhere. Does nothing for an empty address. Throws std::runtime_error when the
    // work folder cannot be created.
    void SetUrl(const QString &url);
    // Output path; ".mp4" is appended unless the name already ends in it (any case).
    void SetOutput(const QString &path);
    // Runs the task: the segments that the folder's record calls complete are kept when the
    // playlist still lists the same segments, and only the rest is fetched. Returns once it has
    // ended (one of OnError, OnStop, OnFinish was raised) or aria2c runs and the poll timer carries
    // it on.
    void Start();
    // Asks the task to stop at the next poll tick or between two segments. A stopped task keeps
    // its work folder with the complete segments, so the next start resumes.
    void Stop();
    // Removes the work folder an ended task left (an analysis that failed early keeps it),
    // unless another download has taken it since.
    void DiscardWorkDir();

    // The playlist analysis Start begins with: fills Segments and KeyUrl and writes IndexFile
    // (and AudioFile, for a variant with separate audio).
    // Public so that the analysis can be run on its own.
    bool AnalyseM3u8(QString url, const QString &headers);
    bool AnalyseLocalM3u8(const QString &path);

    // Saves the playlist at `url` (the first variant of a master playlist) with absolute
    // segment and key addresses. Needs no task object.
    static bool SaveFullUrlM3u8(const QString &url, const QString &outFile, const QString &headers);

    // Milliseconds without a new segment after which a run of aria2c is ended.
    static void SetStallLimitMs(quint32 ms);
    static quint32 StallLimitMs();
    // Milliseconds without growth of the output after which a merge is ended as failed.
    static void SetMergeStallLimitMs(quint32 ms);
    static quint32 MergeStallLimitMs();
    // Bytes a segment's answer may bring beyond what its byte ranges need: a body that never
    // ends is cut there and fails the task instead of filling the disk.
    static void SetSegmentMaxBytes(qint64 bytes);
    static qint64 SegmentMaxBytes();
    // Milliseconds between asking a tool to end and killing it.
    static constexpr int EndGraceMs = 3000;

    // Segment files present during the current run (what progress counts); only FinishedCount,
    // settled when a run has ended, is what the merge trusts.
    int SegmentsPresent() const { return m_presentCount; }
    // Nested playlists followed before a playlist counts as invalid.
    static constexpr int MaxPlaylistNesting = 8;

    int TaskId = 0;
    MyTimer Timer;
    QString Url;
    QString Headers;
    QString IndexFile;
    QString OutFile;
    QString OutName;
    QString FFmpegParams;
    QString KeyUrl;
    // Every distinct key address in playlist order; the n-th is fetched into KeyFileName(n).
    QStringList KeyUrls;
    // Every distinct initialisation section (fMP4) in playlist order; the n-th is fetched, as a
    // segment, into MapFileName(n).
    QStringList MapUrls;
    // The chosen variant's separate audio: its media playlist's address, and its local playlist
    // once analysed ("audio.m3u8" in the work folder). Both empty when the audio is muxed in.
    QString AudioUrl;
    QString AudioFile;
    QString TempDir;
    QString WorkId;
    QString WorkDir;
    std::vector<SegmentRec> Segments;
    QString ListFile;
    // aria2c's --save-session file: the downloads a run left unfinished.
    QString SessionFile;
    // Which segments of the folder are complete, rewritten whenever that is settled.
    QString RecordFile;
    QString Aria2Path;
    QProcess *Aria2Process = nullptr;
    bool NoAria2 = true;
    bool StopRequested = false;
    bool Merging = false;
    int FinishedCount = 0;
    float Percent = 0;
    bool Running = false;
    quint32 Aria2Runs = 0;
    quint32 LastProgressTick = 0;
    // Why the task failed, in plain words beside the status text OnError reports: the server's
    // answer, the tool's error, and the address it concerns. For this run only.
    QString FailReason;
    ErrorEvent OnError;
    TaskEvent OnFinish;
    TaskEvent OnStop;
    ProgressEvent OnProgress;

    // Subtitles: the chosen variant's subtitle renditions are fetched with the segments and
    // merged as mov_text tracks. One that cannot be had is left out and the video kept.
    bool WithSubtitles = true;
    struct SubtitleRendition {
        QString Url;
        QString Language;
        QString Name;
        std::vector<size_t> Segments;  // indices into Segments, in playlist order
    };
    std::vector<SubtitleRendition> SubtitleRenditions;
    // The renditions left out in this run and why, in plain words.
    QStringList SubtitleNotes;

    // Recording a live stream: a media playlist without an end-list tag is read again every
    // target duration and its new segments are fetched as they appear, until EndRecording, the
    // set length, an end-list tag, or a playlist that stays the same for three target durations
    // (30 s at least); then what was recorded is merged. Off: such a playlist is the snapshot
    // listed when it is read. A live stream with separate audio or subtitles stays a snapshot,
    // and so does every stream without aria2c. A recording does not resume after a stop: the
    // playlist has moved on, and the next start records afresh.
    static void SetRecordLive(bool on);
    static bool RecordLive();
    // Ends a recording at its next tick and merges what it has; false (and nothing done) when
    // the task does not record.
    bool EndRecording();
    // Seconds of media recorded so far (complete segments).
    double RecordedSeconds() const;
    // The set length in seconds, 0 for none; given after SetUrl, before Start.
    double LiveDurationLimit = 0;
    bool Recording = false;
    // Segments that left the playlist's window before they could be fetched, or were given up.
    int LiveMissed = 0;
    // An unchanged playlist ends a recording after this many target durations, and at least
    // LiveQuietMinMs.
    static constexpr int LiveQuietTargets = 3;
    static constexpr qint64 LiveQuietMinMs = 30000;

private:
    void Reset();
    void ClearSegments();
    void FailureCleanUp();
    void DeleteWorkDir();
    void ReleaseAria2Process();
    void EndRun();
    bool TakeLock();
    void SaveRecord();
    void ResumeFromRecord();
    void ClearFolderForFreshStart();
    bool IsKnownSegment(const QString &url) const;
    void ReportError(const QString &message, const QString &reason = QString());
    void ReportProgress(float percent, const QString &status);
    void ReportStop();

    int AddKey(const QString &url);
    QString AddMap(const PlaylistMap &map);
    size_t AddMediaLine(const QString &url, int n, int width, bool byteRange,
                        const QString &prefix);
    SegmentRec &AddSegment(const PlaylistSegment &segment, int width, const QString &prefix,
                           int keyIndex, const PlaylistKey *key);
    bool TakeMediaPlaylist(const Playlist &playlist, const QString &prefix, const QString &file);
    bool FailAnalysis(const QString &reason);
    // The end of a failed step: a stop when one was asked for, else the failure clean-up and
    // the error. Always false.
    bool FailOrStop(const QString &status, const QString &reason);
    QString MissingSegmentsReason();
    // ffmpeg's last error line when a merge step failed.
    QString m_mergeReason;
    bool AnalyseAudioM3u8(const QString &headers);
    bool FetchKeys(bool withAria2);
    bool StartAria2();
    void RunAria2();
    bool WriteAria2List();
    void TimerTimer();
    void CheckProgress();
    bool DownloadSegmentsDirect();
    bool Merge();
    bool WaitForMerge(QProcess *process, const QString &output);
    bool RunMergeStep(const QString &ffmpeg, const QString &params, const QString &watched,
                      bool &exitedWell);
    bool MergeParts(const QString &ffmpeg, const QStringList &parts, bool &exitedWell);
    void WatchAria2Process();
    void EndAria2Run();
    int CountPresentSegments(double &partialShare);
    SegmentExpectation ExpectationFor(const SegmentRec &segment) const;
    void LoadKeys();
    void StartOverIfKeysChanged();
    bool SegmentIsDone(size_t index, const QSet<QString> &unfinished);
    bool SettleAria2Run(bool all);
    void SettleSegment(size_t index);
    // Longest stretch one turn of the event loop spends settling a run's end.
    static constexpr qint64 SettleSliceMs = 8;
    // Longest stretch one poll tick spends looking at files, and reading the content of
    // segments seen complete within it.
    static constexpr qint64 PollSliceMs = 10;
    static constexpr qint64 ReadSliceMs = 4;

    static quint32 TickCount();

    int m_presentCount = 0;
    // What the poll saw of each segment file while the run went on: seen complete once (for
    // progress), and the content check made then, valid while size and time stay the same. It
    // spreads the checks over the run instead of reading every file in one go at its end.
    struct SegmentSeen {
        bool present = false;
        qint64 size = -1;
        qint64 modifiedMs = 0;
        bool whole = false;
        // Judged whole by its own format, clear: it starts with media, not with an image.
        bool media = false;
        // Its size when the poll last looked at it.
        qint64 partial = 0;
        // Size of a partial file a run's end kept for the next run to continue; one that has
        // not grown by the following end is fetched afresh.
        qint64 keptSize = -1;
    };
    std::vector<SegmentSeen> m_seen;
    // Where the settling of a run's end goes on (0: not settling), and what aria2c's session
    // file listed as unfinished for it.
    size_t m_settleNext = 0;
    // Where the next poll tick starts looking at files.
    size_t m_pollNext = 0;
    QSet<QString> m_unfinished;
    void NoteContent(size_t index, const QString &file);
    qint64 SegmentCap(const SegmentRec &segment) const;
    // The first segment whose file passed its cap in this run; -1: none.
    int m_oversize = -1;
    void NoteOverCap(size_t index, qint64 size);
    // Files seen complete that one poll tick looks at again for growth, and where it goes on.
    static constexpr size_t GrowthChecksPerTick = 128;
    size_t m_growNext = 0;
    // Ends the task as failed when a segment passed its cap; false when none did.
    bool FailedOverCap();
    // Bytes of the segment files the poll last saw, partial files included: the stall limit is
    // about these not changing.
    qint64 m_bytesSeen = 0;
    // The keys of this start (by KeyUrls index) and the checksums the record holds for them.
    QList<QByteArray> m_keys;
    SegmentKeySums m_keySums;
    // Runs in a row that finished no segment. A run that brought segments does not use up a
    // retry: aria2c gives a URL up for the rest of the run after one error answer, so a flaky
    // server needs more runs than a dead one, and the task ends only when runs stop helping.
    int m_idleRuns = 0;
    bool m_endingAria2 = false;
    // The folder's record as Start found it, until the analysis has been compared with it.
    SegmentRecord m_record;
    // Held from SetUrl until the task ends: no other run of the address and no clean-up of
    // kept folders touches the folder meanwhile.
    std::unique_ptr<QLockFile> m_lock;
    bool m_busyElsewhere = false;
    // Receiver of the aria2c process's signals; goes away with the task.
    QObject m_context;

    // Subtitles (Subtitles.cpp): the renditions the master names for the chosen variant, to be
    // read once its video is.
    std::vector<SubtitleRendition> m_subtitlesWanted;
    void WantSubtitles(const Playlist &master, int variant);
    bool AnalyseSubtitles(const QString &headers);
    bool OnlySubtitlesMissing() const;
    qint64 VideoStartTime() const;
    std::vector<SubtitleTrack> JoinSubtitles();
    std::vector<SubtitleTrack> m_subtitleTracks;
    // The recording of a live playlist (LiveRecording.cpp).
    void NoteLivePlaylist(const QString &url, const Playlist &playlist);
    void BeginRecording();
    bool AddLiveSegments(const MediaPlaylist &media);
    bool FetchNewKeys(const MediaPlaylist &media);
    void ReloadLivePlaylist();
    void CheckRecording(bool runEnded);
    bool DropUnfetchedSegments(bool all);
    void FinishRecording();
    qint64 LiveWaitMs(bool changed) const;
    // Where a recording stands; null while the task records nothing.
    std::unique_ptr<LiveRecordingState> m_live;
};
