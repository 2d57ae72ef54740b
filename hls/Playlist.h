#pragma once
// A playlist as the engine understands it. The server's text is parsed once into this model,
// every address resolved against the address the playlist was really read from; the local
// playlists the merge reads are written from the model alone, never by editing server lines.

#include "hls/M3u8Helpers.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

struct PlaylistKey {
    QString Method;  // upper case: "AES-128", "SAMPLE-AES", ...; never "NONE" (that is no key)
    QString Uri;     // resolved; as written when it could not be resolved; may be empty
    QByteArray Iv;   // 16 bytes when the tag gives an IV, else empty
};

struct PlaylistMap {
    QString Uri;         // resolved
    qint64 Length = -1;  // byte range of the resource; -1: all of it
    qint64 Offset = 0;
};

struct PlaylistSegment {
    QString Uri;  // resolved
    double Duration = 0;
    qint64 Length = -1;  // byte range of the resource; -1: all of it
    qint64 Offset = 0;
    quint64 Sequence = 0;        // media sequence number: the IV of a key without one
    int Key = -1;                // index into MediaPlaylist::Keys; -1: clear
    int Map = -1;                // index into MediaPlaylist::Maps; -1: none
    bool Discontinuity = false;  // a discontinuity comes before this segment
    int Number = 0;              // 1-based, among the segments the playlist lists
};

struct MediaPlaylist {
    double TargetDuration = 0;
    quint64 MediaSequence = 0;
    bool EndList = false;
    std::vector<PlaylistKey> Keys;
    std::vector<PlaylistMap> Maps;
    std::vector<PlaylistSegment> Segments;
};

struct PlaylistVariant {
    QString Uri;  // resolved
    qint64 Bandwidth = 0;
    QString Codecs;
    QString Resolution;
    QString Audio;      // group id of its audio renditions
    QString Subtitles;  // group id of its subtitle renditions
    // Carries pictures: its CODECS name a video codec, or it has a RESOLUTION, or it names no
    // CODECS at all (and so may carry anything).
    bool HasVideo() const;
};

struct PlaylistRendition {
    QString Type;  // upper case: "AUDIO", "VIDEO", "SUBTITLES", "CLOSED-CAPTIONS"
    QString GroupId;
    QString Name;
    QString Language;
    QString Uri;  // resolved; empty when the rendition is muxed into the variant
    bool Default = false;
};

struct Playlist {
    // A master lists variants ("#EXT-X-STREAM-INF"); its other address lines are ignored.
    bool IsMaster = false;
    std::vector<PlaylistVariant> Variants;
    std::vector<PlaylistRendition> Renditions;
    MediaPlaylist Media;
    // Non-blank lines read, and address lines among them.
    int LineCount = 0;
    int AddressLines = 0;
};

// Parses the non-blank lines of a playlist. Addresses are resolved against `baseUrl`; with an
// empty base, a relative segment line is left out with its duration. False, with the model
// unusable, for what must never reach the merge: a line holding a control character, a playlist
// with both segments and variants, a key or map tag with two URI attributes, a key method that
// is no plain name.
bool ParsePlaylist(const QStringList &lines, const QString &baseUrl, Playlist &out);

// Fetches a playlist into `file` (capped, with the headers; `cancel` ends it) and parses it
// against the address it finally came from, so relative lines of a redirected playlist resolve
// where the server meant them to. False with the reason in plain words, the address included.
bool ReadRemotePlaylist(const QString &url, const QString &file, const QString &headers,
                        const bool *cancel, Playlist &playlist, QString &reason);

// The IV of an AES-128 key that gives none: the segment's media sequence number, big-endian in
// 16 bytes.
QByteArray SequenceIv(quint64 sequence);

// The variant the choice takes among those carrying video (all of them when none does): the
// first, or the highest or lowest bandwidth, the earlier one on a tie. -1 without variants.
int ChooseVariantIndex(const Playlist &playlist, VariantChoice choice);
// The separate audio of a variant: its AUDIO group's rendition of TYPE=AUDIO marked
// DEFAULT=YES, else the group's first; empty when that rendition has no URI (the audio is
// muxed in) or the variant names no group.
QString AudioRenditionFor(const Playlist &playlist, int variant);
// The subtitles of a variant: its SUBTITLES group's renditions of TYPE=SUBTITLES that have a
// URI, in playlist order, one per address, at most MaxSubtitleRenditions of them.
inline constexpr int MaxSubtitleRenditions = 16;
std::vector<PlaylistRendition> SubtitleRenditionsFor(const Playlist &playlist, int variant);

// What the local playlist names for each part of the stream, all files of the work folder.
struct LocalNames {
    std::vector<QString> Segments;  // per segment of the model, in order
    std::vector<QString> Keys;      // per key
    std::vector<QString> Maps;      // per map
};
// The local playlist: only the tags the merge needs, written from the model, ending in
// "#EXT-X-ENDLIST" (the downloaded segments are a finished snapshot even of a live playlist).
QStringList WriteLocalPlaylist(const MediaPlaylist &media, const LocalNames &names);
