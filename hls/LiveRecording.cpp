// Recording a live playlist: the task reads the playlist again and again, takes the segments
// that appear by their media sequence numbers, fetches them in aria2c runs as they come, and
// merges what it has when the recording ends.

#include "hls/LiveRecording.h"
#include "hls/M3u8Helpers.h"
#include "hls/Playlist.h"
#include "hls/TM3u8Class.h"
#include "hls/TM3u8Status.h"
#include "hls/UrlFetcher.h"
#include "support/FileUtils.h"
#include "support/TextUtils.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <utility>

using namespace TM3u8Status;

namespace {

bool g_recordLive = true;

// Bounds on the target duration the reload timing follows: 0 would read the playlist without
// pause, a huge value would never let a quiet stream end.
constexpr double kMinTargetS = 1.0;
constexpr double kMaxTargetS = 60.0;
constexpr int kNameWidth = 6;

bool SameKey(const PlaylistKey &a, const PlaylistKey &b) {
    return a.Method == b.Method && a.Uri == b.Uri && a.Iv == b.Iv;
}

bool SameMap(const PlaylistMap &a, const PlaylistMap &b) {
    return a.Uri == b.Uri && a.Length == b.Length && a.Offset == b.Offset;
}

quint64 WindowStart(const MediaPlaylist &media) {
    return media.Segments.empty() ? media.MediaSequence : media.Segments.front().Sequence;
}

}  // namespace

void TM3u8::SetRecordLive(bool on) {
    g_recordLive = on;
}

bool TM3u8::RecordLive() {
    return g_recordLive;
}

bool TM3u8::EndRecording() {
    if (!Recording || !m_live || !Running || Merging)
        return false;
    m_live->EndAsked = true;
    return true;
}

double TM3u8::RecordedSeconds() const {
    if (!m_live)
        return 0;
    QSet<QString> done;
    for (const SegmentRec &segment : Segments) {
        if (segment.Done)
            done.insert(segment.LocalName);
    }
    double seconds = 0;
    for (size_t i = 0; i < m_live->Media.Segments.size(); ++i) {
        if (done.contains(m_live->Names.Segments[i]))
            seconds += m_live->Media.Segments[i].Duration;
    }
    return seconds;
}

// The analysis keeps the media playlist it took when it may be recorded.
void TM3u8::NoteLivePlaylist(const QString &url, const Playlist &playlist) {
    m_live.reset();
    if (playlist.Media.EndList || !RecordLive() || !IsUrl(url))
        return;
    m_live = std::make_unique<LiveRecordingState>();
    m_live->Url = url;
    m_live->Media = playlist.Media;
}

// The analysis named the segments by their place in one read; a recording names them in the
// order they arrive, so names stay unique while the window moves on.
void TM3u8::BeginRecording() {
    Recording = false;
    // Separate audio or subtitles would have to be recorded in step with the video: such a
    // stream stays the snapshot its first read lists.
    if (!m_live || !AudioUrl.isEmpty() || !SubtitleRenditions.empty() || NoAria2) {
        m_live.reset();
        return;
    }
    const MediaPlaylist first = std::exchange(m_live->Media, MediaPlaylist());
    ClearSegments();
    KeyUrl.clear();
    KeyUrls.clear();
    MapUrls.clear();
    m_live->Next = m_live->WindowStart = WindowStart(first);
    m_live->Media.MediaSequence = m_live->Next;
    Recording = true;
    m_live->Clock.start();
    AddLiveSegments(first);
    m_live->Ended = m_live->Ended || first.EndList;
    m_live->ReloadAt = LiveWaitMs(true);
}

// Keys that segments not taken yet use and the task has not fetched, in the order AddKey will
// number them. False when one cannot be had: the read is then left for a later one.
bool TM3u8::FetchNewKeys(const MediaPlaylist &media) {
    QStringList fresh;
    for (const PlaylistSegment &segment : media.Segments) {
        if (segment.Sequence < m_live->Next || segment.Key < 0)
            continue;
        const QString uri = media.Keys[size_t(segment.Key)].Uri;
        if (!uri.isEmpty() && !KeyUrls.contains(uri) && !fresh.contains(uri))
            fresh << uri;
    }
    for (int i = 0; i < fresh.size(); ++i) {
        const QString keyFile = WorkDir + QLatin1Char('/') + KeyFileName(int(KeyUrls.size()) + i);
        FetchRequest request;
        request.headers = Headers;
        request.maxBytes = KeyMaxBytes;
        request.cancel = &StopRequested;
        if (!DownloadFile(fresh.at(i), keyFile, request) || FileSizeByName(keyFile) != 16) {
            QFile::remove(keyFile);
            return false;
        }
    }
    return true;
}

// Takes the segments of a read that follow those taken, with their keys and maps, and writes
// the local playlist anew. A key without IV gets the segment's sequence number as an explicit
// IV: the local playlist numbers its segments without the gaps of missed ones. True when any
// was taken.
bool TM3u8::AddLiveSegments(const MediaPlaylist &media) {
    const size_t before = m_live->Media.Segments.size();
    for (const PlaylistSegment &source : media.Segments) {
        if (source.Sequence < m_live->Next)
            continue;
        if (LiveDurationLimit > 0 && m_live->ListedSeconds >= LiveDurationLimit) {
            m_live->Ended = true;
            break;
        }
        if (source.Sequence > m_live->Next) {
            LiveMissed = int(qMin<quint64>(quint64(LiveMissed) + (source.Sequence - m_live->Next),
                                           quint64(INT_MAX)));
            m_live->Gap = true;
        }
        PlaylistSegment segment = source;
        segment.Discontinuity = source.Discontinuity || std::exchange(m_live->Gap, false);
        // Numbered by arrival, never by place: a dropped segment's number is not taken again.
        segment.Number = ++m_live->Number;
        int keyIndex = -1;
        if (source.Key >= 0) {
            PlaylistKey key = media.Keys[size_t(source.Key)];
            if (key.Iv.isEmpty() && key.Method == QLatin1String("AES-128"))
                key.Iv = SequenceIv(source.Sequence);
            if (m_live->Media.Keys.empty() || !SameKey(m_live->Media.Keys.back(), key)) {
                m_live->Media.Keys.push_back(key);
                m_live->Names.Keys.push_back(key.Uri.isEmpty() ? QString()
                                                               : KeyFileName(AddKey(key.Uri)));
            }
            segment.Key = int(m_live->Media.Keys.size()) - 1;
            if (!key.Uri.isEmpty()) {
                keyIndex = AddKey(key.Uri);
                KeyUrl = key.Uri;
            }
        }
        if (source.Map >= 0) {
            const PlaylistMap &map = media.Maps[size_t(source.Map)];
            if (m_live->Media.Maps.empty() || !SameMap(m_live->Media.Maps.back(), map)) {
                m_live->Media.Maps.push_back(map);
                m_live->Names.Maps.push_back(AddMap(map));
            }
            segment.Map = int(m_live->Media.Maps.size()) - 1;
        }
        const PlaylistKey *key =
            segment.Key >= 0 ? &m_live->Media.Keys[size_t(segment.Key)] : nullptr;
        m_live->Names.Segments.push_back(
            AddSegment(segment, kNameWidth, QString(), keyIndex, key).LocalName);
        m_live->Media.Segments.push_back(segment);
        m_live->ListedSeconds += segment.Duration;
        m_live->Next = source.Sequence + 1;
    }
    m_live->Media.TargetDuration = qMax(m_live->Media.TargetDuration, media.TargetDuration);
    const bool added = m_live->Media.Segments.size() > before;
    if (added)
        SaveTextFile(WriteLocalPlaylist(m_live->Media, m_live->Names), IndexFile);
    return added;
}

qint64 TM3u8::LiveWaitMs(bool changed) const {
    const double target = qBound(kMinTargetS, m_live->Media.TargetDuration, kMaxTargetS);
    return qint64(target * (changed ? 1000.0 : 500.0));
}

// One read of the playlist. A read that fails counts as one without news: a stream whose
// server has gone ends like one that stopped growing.
void TM3u8::ReloadLivePlaylist() {
    const QString file = WorkDir + QLatin1String("/live.m3u8");
    Playlist playlist;
    QString reason;
    bool changed = false;
    if (ReadRemotePlaylist(m_live->Url, file, Headers, &StopRequested, playlist, reason) &&
        !playlist.IsMaster) {
        m_live->WindowStart = WindowStart(playlist.Media);
        if (FetchNewKeys(playlist.Media)) {
            changed = AddLiveSegments(playlist.Media);
            LoadKeys();
            m_live->Ended = m_live->Ended || playlist.Media.EndList;
        }
    }
    QFile::remove(file);
    const qint64 now = m_live->Clock.elapsed();
    if (changed)
        m_live->ChangedAt = now;
    m_live->ReloadAt = now + LiveWaitMs(changed);
    const double target = qBound(kMinTargetS, m_live->Media.TargetDuration, kMaxTargetS);
    const qint64 quiet = qMax(LiveQuietMinMs, qint64(LiveQuietTargets * target * 1000.0));
    if (now - m_live->ChangedAt >= quiet)
        m_live->Ended = true;
}

// Gives up the segments a run did not bring that the playlist no longer lists (or all of
// them, when runs stop helping): they are counted as missed, and the next segment kept starts
// a new part of the merge. False when the task failed instead: an init section that never
// came leaves nothing to merge.
bool TM3u8::DropUnfetchedSegments(bool all) {
    QHash<QString, size_t> byName;
    for (size_t i = 0; i < Segments.size(); ++i)
        byName.insert(Segments[i].LocalName, i);
    QSet<QString> gone;
    for (size_t i = 0; i < m_live->Media.Segments.size(); ++i) {
        const QString &name = m_live->Names.Segments[i];
        const auto found = byName.constFind(name);
        if (found == byName.constEnd() || Segments[*found].Done)
            continue;
        if (all || m_live->Media.Segments[i].Sequence < m_live->WindowStart)
            gone.insert(name);
    }
    if (all) {
        // What is left besides segments is an init section, without which nothing merges.
        const QSet<QString> segmentNames(m_live->Names.Segments.begin(),
                                         m_live->Names.Segments.end());
        for (const SegmentRec &segment : Segments) {
            if (!segment.Done && !segmentNames.contains(segment.LocalName)) {
                const QString reason = MissingSegmentsReason();
                FailureCleanUp();
                ReportError(kTsFailed, reason);
                return false;
            }
        }
    }
    if (gone.isEmpty())
        return true;
    MediaPlaylist kept = m_live->Media;
    kept.Segments.clear();
    std::vector<QString> keptNames;
    bool gap = false;
    for (size_t i = 0; i < m_live->Media.Segments.size(); ++i) {
        if (gone.contains(m_live->Names.Segments[i])) {
            ++LiveMissed;
            gap = true;
            continue;
        }
        PlaylistSegment segment = m_live->Media.Segments[i];
        segment.Discontinuity = segment.Discontinuity || std::exchange(gap, false);
        kept.Segments.push_back(segment);
        keptNames.push_back(m_live->Names.Segments[i]);
    }
    m_live->Gap = m_live->Gap || gap;
    m_live->Media = std::move(kept);
    m_live->Names.Segments = std::move(keptNames);
    Segments.erase(std::remove_if(Segments.begin(), Segments.end(),
                                  [&gone](const SegmentRec &segment) {
                                      return gone.contains(segment.LocalName);
                                  }),
                   Segments.end());
    m_seen.clear();
    m_pollNext = 0;
    FinishedCount = int(std::count_if(Segments.begin(), Segments.end(),
                                      [](const SegmentRec &segment) { return segment.Done; }));
    m_presentCount = FinishedCount;
    m_idleRuns = 0;
    if (!m_live->Media.Segments.empty())
        SaveTextFile(WriteLocalPlaylist(m_live->Media, m_live->Names), IndexFile);
    SaveRecord();
    return true;
}

// One tick of a recording (the timer is off while it runs): settle a run that ended, read the
// playlist when it is due, start a run for what is new, and merge once the recording is over
// and nothing is left to fetch.
void TM3u8::CheckRecording(bool runEnded) {
    if (Aria2Process && runEnded) {
        if (!SettleAria2Run(false)) {
            QTimer::singleShot(0, &m_context, [this] {
                if (Running && !Merging && !Timer.Enabled())
                    CheckProgress();
            });
            return;
        }
        ReleaseAria2Process();
        if (FailedOverCap() || !DropUnfetchedSegments(m_idleRuns >= DownloadRetries))
            return;
    } else if (!runEnded) {
        double partialShare = 0;
        m_presentCount = qMax(m_presentCount, CountPresentSegments(partialShare));
        if (quint32(TickCount() - LastProgressTick) > StallLimitMs())
            EndAria2Run();
    }
    m_live->Ended = m_live->Ended || m_live->EndAsked;
    if (!m_live->Ended && m_live->Clock.elapsed() >= m_live->ReloadAt) {
        ReloadLivePlaylist();
        if (StopRequested) {
            Timer.SetEnabled(true);
            return;
        }
    }
    const double recorded = RecordedSeconds();
    if (qint64(recorded * 1000) != m_live->ReportedMs) {
        m_live->ReportedMs = qint64(recorded * 1000);
        Percent = LiveDurationLimit > 0
                      ? float(qMin(100.0, recorded * 100.0 / LiveDurationLimit))
                      : float(FinishedCount) * 100.0f / float(qMax<size_t>(1, Segments.size()));
        ReportProgress(Percent, kRecording);
        if (!Running)
            return;
    }
    if (!Aria2Process) {
        const bool pending = std::any_of(Segments.begin(), Segments.end(),
                                         [](const SegmentRec &segment) { return !segment.Done; });
        if (pending) {
            RunAria2();
            if (!Aria2Process)
                return;
        } else if (m_live->Ended) {
            FinishRecording();
            return;
        }
    }
    Timer.SetEnabled(true);
}

void TM3u8::FinishRecording() {
    if (FinishedCount == 0 || m_live->Media.Segments.empty()) {
        FailureCleanUp();
        ReportError(kTsFailed, QStringLiteral("直播列表中没有录制到分段 (%1)").arg(m_live->Url));
        return;
    }
    Merging = true;
    Merge();
}
