#include "hls/TM3u8Class.h"

#include "hls/M3u8Helpers.h"
#include "hls/Playlist.h"
#include "hls/TM3u8Status.h"
#include "hls/UrlFetcher.h"
#include "support/FileUtils.h"
#include "support/TextUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

using namespace TM3u8Status;

namespace {

// Fetches the head of the first segment address of a playlist into `probe` and tells whether it
// is itself a playlist (a list of playlists without variant tags); the probe file is gone
// afterwards either way. Only the head, so a media segment is not fetched twice.
bool ProbeIsPlaylist(const QString &url, const QString &probe, const QString &headers,
                     const bool *cancel = nullptr) {
    DownloadFileHead(url, probe, FetchRequest{headers, ProbeHeadBytes, cancel, nullptr});
    const bool isPlaylist = IsM3u8File(probe);
    QFile::remove(probe);
    return isPlaylist;
}

int DecimalDigits(int value) {
    return QString::number(value).size();
}

}  // namespace

bool TM3u8::AnalyseM3u8(QString url, const QString &headers) {
    if (url.isEmpty())
        return false;
    ReportProgress(Percent, kAnalysing);
    AudioUrl.clear();
    AudioFile.clear();
    SubtitleRenditions.clear();
    SubtitleNotes.clear();
    m_subtitlesWanted.clear();
    ClearSegments();
    KeyUrl.clear();
    KeyUrls.clear();
    MapUrls.clear();

    for (int nesting = 0;; ++nesting) {
        if (nesting > MaxPlaylistNesting)
            return FailAnalysis(QStringLiteral("播放列表嵌套超过 %1 层").arg(MaxPlaylistNesting));
        if (!IsUrl(url)) {
            if (QFileInfo(url).isFile())
                return AnalyseLocalM3u8(url);
            EndRun();
            ReportError(kInvalidM3u8, QStringLiteral("既不是网址也不是文件 (%1)").arg(url));
            return false;
        }
        Playlist playlist;
        QString reason;
        if (!ReadRemotePlaylist(url, IndexFile, headers, &StopRequested, playlist, reason)) {
            ClearSegments();
            EndRun();
            if (StopRequested)
                ReportStop();
            else
                ReportError(kInvalidM3u8, reason);
            return false;
        }
        if (playlist.IsMaster) {
            const int variant = ChooseVariantIndex(playlist, VariantPreference);
            if (variant < 0)
                return FailAnalysis(QStringLiteral("主播放列表没有可用的码率 (%1)").arg(url));
            AudioUrl = AudioRenditionFor(playlist, variant);
            WantSubtitles(playlist, variant);
            url = playlist.Variants[size_t(variant)].Uri;
            continue;
        }
        // A list of addresses may name playlists without saying so: the first is followed when
        // it is one. A segment the folder's record holds needs no probe on resuming.
        if (!playlist.Media.Segments.empty()) {
            const QString first = playlist.Media.Segments.front().Uri;
            const QString probe =
                TempDir + QLatin1Char('/') + Crc32Hex(first) + QLatin1String(".m3u8");
            if (!IsKnownSegment(first) && ProbeIsPlaylist(first, probe, Headers, &StopRequested)) {
                url = first;
                continue;
            }
        }
        if (!TakeMediaPlaylist(playlist, QString(), IndexFile))
            return FailAnalysis(QStringLiteral("播放列表没有分段 (%1)").arg(url));
        NoteLivePlaylist(url, playlist);
        if (AudioUrl.isEmpty() || AnalyseAudioM3u8(headers))
            return AnalyseSubtitles(headers);
        return FailAnalysis(QStringLiteral("音频播放列表无效 (%1)").arg(AudioUrl));
    }
}

int TM3u8::AddKey(const QString &url) {
    int index = int(KeyUrls.indexOf(url));
    if (index < 0) {
        index = int(KeyUrls.size());
        KeyUrls << url;
    }
    return index;
}

// An initialisation section is fetched like a segment, and counts as one for progress; maps
// naming the same address share its file.
QString TM3u8::AddMap(const PlaylistMap &map) {
    int index = int(MapUrls.indexOf(map.Uri));
    if (index < 0) {
        index = int(MapUrls.size());
        MapUrls << map.Uri;
        SegmentRec segment;
        segment.Url = map.Uri;
        segment.LocalName = MapFileName(index);
        Segments.push_back(segment);
    }
    if (map.Length >= 0) {
        for (SegmentRec &segment : Segments) {
            if (segment.Url == map.Uri)
                segment.MinSize = qMax(segment.MinSize, map.Offset + map.Length);
        }
    }
    return MapFileName(index);
}

// The segment for an address line. Ranges of one resource (the init section's included) share
// one file, fetched once; every other line gets a file of its own, numbered by `n`.
size_t TM3u8::AddMediaLine(const QString &url, int n, int width, bool byteRange,
                           const QString &prefix) {
    if (byteRange) {
        for (size_t i = 0; i < Segments.size(); ++i) {
            if (Segments[i].Url == url)
                return i;
        }
    }
    SegmentRec segment;
    segment.Url = url;
    segment.LocalName = prefix +
                        (QString(width, QLatin1Char('0')) + QString::number(n)).right(width) +
                        QLatin1String(".ts");
    Segments.push_back(segment);
    return Segments.size() - 1;
}

bool TM3u8::FailAnalysis(const QString &reason) {
    return FailOrStop(kInvalidM3u8, reason);
}

// A segment joins the task: a byte range raises its file's least size; a whole file under an
// AES-128 key (keyIndex into KeyUrls) gets the key and IV the done rule checks it with.
SegmentRec &TM3u8::AddSegment(const PlaylistSegment &segment, int width, const QString &prefix,
                              int keyIndex, const PlaylistKey *key) {
    const bool ranged = segment.Length >= 0;
    SegmentRec &rec = Segments[AddMediaLine(segment.Uri, segment.Number, width, ranged, prefix)];
    if (ranged) {
        rec.MinSize = qMax(rec.MinSize, segment.Offset + segment.Length);
    } else if (key && keyIndex >= 0 && key->Method == QLatin1String("AES-128")) {
        rec.Key = keyIndex;
        rec.Iv = key->Iv.isEmpty() ? SequenceIv(segment.Sequence) : key->Iv;
    }
    return rec;
}

// The segments, keys and initialisation sections of a media playlist join the task under local
// names (`prefix` before the segment numbers), and its local playlist is written into `file`.
bool TM3u8::TakeMediaPlaylist(const Playlist &playlist, const QString &prefix,
                              const QString &file) {
    const MediaPlaylist &media = playlist.Media;
    if (media.Segments.empty())
        return false;
    const int width = DecimalDigits(playlist.LineCount);
    LocalNames names;
    std::vector<int> keyIndex;
    for (const PlaylistKey &key : media.Keys) {
        keyIndex.push_back(key.Uri.isEmpty() ? -1 : AddKey(key.Uri));
        names.Keys.push_back(key.Uri.isEmpty() ? QString() : KeyFileName(keyIndex.back()));
        if (!key.Uri.isEmpty())
            KeyUrl = key.Uri;
    }
    names.Maps.assign(media.Maps.size(), QString());
    for (const PlaylistSegment &segment : media.Segments) {
        if (segment.Map >= 0 && names.Maps[size_t(segment.Map)].isEmpty())
            names.Maps[size_t(segment.Map)] = AddMap(media.Maps[size_t(segment.Map)]);
        const bool keyed = segment.Key >= 0;
        names.Segments.push_back(AddSegment(segment, width, prefix,
                                            keyed ? keyIndex[size_t(segment.Key)] : -1,
                                            keyed ? &media.Keys[size_t(segment.Key)] : nullptr)
                                     .LocalName);
        LetEventsRun();
    }
    return SaveTextFile(WriteLocalPlaylist(media, names), file);
}

// The variant's separate audio: its media playlist is taken like the video's and written as
// "audio.m3u8" beside index.m3u8. Its segments join Segments under names of their own, so
// progress, the runs and the done rule cover them as they are.
bool TM3u8::AnalyseAudioM3u8(const QString &headers) {
    const QString file = WorkDir + QLatin1String("/audio.m3u8");
    Playlist playlist;
    QString reason;
    if (!ReadRemotePlaylist(AudioUrl, file, headers, &StopRequested, playlist, reason) ||
        playlist.IsMaster)
        return false;
    // KeyUrl stays the video's key.
    const QString videoKey = KeyUrl;
    const bool taken = TakeMediaPlaylist(playlist, QStringLiteral("a"), file);
    KeyUrl = videoKey;
    if (taken)
        AudioFile = file;
    return taken;
}

// A local playlist's relative lines would make the merge read files outside the work folder:
// only its absolute addresses are taken. A local master is followed to its variant.
bool TM3u8::AnalyseLocalM3u8(const QString &path) {
    AudioUrl.clear();
    AudioFile.clear();
    QStringList lines;
    Playlist playlist;
    if (LoadTextFile(path, lines, true) == 0 || !ParsePlaylist(lines, QString(), playlist))
        return FailAnalysis(QStringLiteral("不是可用的 m3u8 播放列表 (%1)").arg(path));
    if (playlist.IsMaster) {
        const int variant = ChooseVariantIndex(playlist, VariantPreference);
        if (variant < 0)
            return FailAnalysis(QStringLiteral("主播放列表没有可用的码率 (%1)").arg(path));
        const QString url = playlist.Variants[size_t(variant)].Uri;
        const QString audio = AudioRenditionFor(playlist, variant);
        if (!AnalyseM3u8(url, Headers))
            return false;
        WantSubtitles(playlist, variant);
        if (audio.isEmpty())
            return AnalyseSubtitles(Headers);
        AudioUrl = audio;
        return AnalyseAudioM3u8(Headers)
                   ? AnalyseSubtitles(Headers)
                   : FailAnalysis(QStringLiteral("音频播放列表无效 (%1)").arg(audio));
    }
    if (TakeMediaPlaylist(playlist, QString(), IndexFile))
        return true;
    return FailAnalysis(QStringLiteral("播放列表没有可用的分段 (%1)").arg(path));
}

bool TM3u8::SaveFullUrlM3u8(const QString &url, const QString &outFile, const QString &headers) {
    if (url.isEmpty() || !IsUrl(url) || outFile.isEmpty())
        return false;
    if (QFileInfo::exists(outFile))
        QFile::remove(outFile);

    const QString tempDir = GetTempDir();
    QString current = url;
    for (int nesting = 0; nesting <= MaxPlaylistNesting; ++nesting) {
        const QString tmp =
            tempDir + QLatin1Char('/') + Crc32Hex(current + outFile) + QLatin1String(".m3u8");
        QString finalUrl;
        FetchRequest request;
        request.headers = headers;
        request.maxBytes = PlaylistMaxBytes;
        request.finalUrl = &finalUrl;
        QFile::remove(tmp);
        if (!DownloadFile(current, tmp, request))
            return false;
        if (finalUrl.isEmpty())
            finalUrl = current;
        QStringList lines;
        const int loaded = LoadTextFile(tmp, lines, true);
        QFile::remove(tmp);
        Playlist playlist;
        if (loaded == 0 || !ParsePlaylist(lines, finalUrl, playlist))
            return false;
        if (playlist.IsMaster) {
            const int variant = ChooseVariantIndex(playlist, VariantPreference);
            if (variant < 0)
                return false;
            current = playlist.Variants[size_t(variant)].Uri;
            continue;
        }
        if (playlist.Media.Segments.empty())
            return false;
        const QString first = playlist.Media.Segments.front().Uri;
        const QString probe =
            tempDir + QLatin1Char('/') + Crc32Hex(first + outFile) + QLatin1String(".ts");
        if (ProbeIsPlaylist(first, probe, headers)) {
            current = first;
            continue;
        }
        // The saved file is the server's playlist with its addresses made absolute.
        for (QString &line : lines) {
            line = line.trimmed();
            if (!line.startsWith(QLatin1Char('#')))
                line = ResolveUrl(line, finalUrl);
            else if (IsKeyLine(line) || IsMapLine(line))
                line = ReplaceKeyUri(line, ResolveUrl(GetKeyUri(line), finalUrl));
        }
        return SaveTextFile(lines, outFile);
    }
    return false;
}
