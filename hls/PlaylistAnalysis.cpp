#include "hls/TM3u8Class.h"

#include "hls/M3u8Helpers.h"
#include "hls/TM3u8Status.h"
#include "support/FileUtils.h"
#include "support/TextUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <utility>

using namespace TM3u8Status;

namespace {

// Fetches the head of the first URI line of a playlist into `probe` and tells whether it is
// itself a playlist (a master's variant); the probe file is gone afterwards either way. Only
// the head, so a media segment is not fetched twice.
bool ProbeIsPlaylist(const QString &url, const QString &probe, const QString &headers,
                     const bool *cancel = nullptr) {
    DownloadFileHead(url, probe, FetchRequest{headers, ProbeHeadBytes, cancel, nullptr});
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

}  // namespace

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
    static const QRegularExpression sequenceTag(QStringLiteral("^#EXT-X-MEDIA-SEQUENCE:\\s*(\\d+)"),
                                                QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression rangeTag(
        QStringLiteral("^#EXT-X-BYTERANGE:\\s*(\\d+)(?:@(\\d+))?"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression aesMethod(
        QStringLiteral("[:,]\\s*METHOD\\s*=\\s*AES-128\\s*(,|$)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression ivAttr(
        QStringLiteral("[:,]\\s*IV\\s*=\\s*0[xX]([0-9A-Fa-f]{1,32})"),
        QRegularExpression::CaseInsensitiveOption);
    quint64 sequence = 0;
    int aesKey = -1;
    QByteArray explicitIv;
    qint64 rangeLength = -1, rangeOffset = 0, nextOffset = 0;
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i).trimmed();
        lines[i] = line;
        if (line.startsWith(QLatin1Char('#'))) {
            const QRegularExpressionMatch seq = sequenceTag.match(line);
            if (seq.hasMatch())
                sequence = seq.captured(1).toULongLong();
            const QRegularExpressionMatch range = rangeTag.match(line);
            if (range.hasMatch()) {
                rangeLength = range.captured(1).toLongLong();
                rangeOffset =
                    range.captured(2).isEmpty() ? nextOffset : range.captured(2).toLongLong();
            }
            if (line.left(11).toUpper() == QLatin1String("#EXT-X-KEY:")) {
                aesKey = -1;
                explicitIv.clear();
            }
        }
        if (!line.startsWith(QLatin1Char('#'))) {
            line = ResolveUrl(line, url);
            lines[i] = line;
            ++n;
            // A line the folder's record holds as a segment needs no probe on resuming.
            if (n == 1 && probeFirst && !IsKnownSegment(line)) {
                const QString probe =
                    TempDir + QLatin1Char('/') + Crc32Hex(line) + QLatin1String(".m3u8");
                if (ProbeIsPlaylist(line, probe, Headers, &StopRequested)) {
                    url = line;
                    nested = true;
                    break;
                }
            }
            lines[i] = AddMediaLine(line, n, width, byteRange, prefix);
            // Temporary until the playlist model carries these.
            if (byteRange) {
                nextOffset = rangeOffset + rangeLength;
                for (SegmentRec &segment : Segments) {
                    if (segment.LocalName == lines.at(i))
                        segment.MinSize = qMax(segment.MinSize, nextOffset);
                }
            } else if (aesKey >= 0) {
                Segments.back().Key = aesKey;
                Segments.back().Iv =
                    explicitIv.isEmpty()
                        ? QByteArray(8, '\0') +
                              QByteArray::fromHex(
                                  QByteArray::number(sequence, 16).rightJustified(16, '0'))
                        : explicitIv;
            }
            ++sequence;
            byteRange = false;
        } else if (IsKeyLine(line)) {
            KeyUrl = ResolveUrl(GetKeyUri(line), url);
            const int keyIndex = AddKey(KeyUrl);
            if (aesMethod.match(line).hasMatch()) {
                aesKey = keyIndex;
                const QRegularExpressionMatch iv = ivAttr.match(line);
                if (iv.hasMatch())
                    explicitIv = QByteArray::fromHex(
                        iv.captured(1).rightJustified(32, QLatin1Char('0')).toLatin1());
            }
            lines[i] = ReplaceKeyUri(line, KeyFileName(keyIndex));
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
