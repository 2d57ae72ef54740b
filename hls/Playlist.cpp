#include "hls/Playlist.h"

#include "hls/UrlFetcher.h"
#include "support/TextUtils.h"

#include <QFile>

#include <QList>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace {

struct Attribute {
    QString name;  // upper case
    QString value;
};

// An attribute list: NAME=VALUE pairs joined by commas, a quoted value holding commas of its
// own. Names in any letter case, blanks around the parts tolerated, bare words skipped.
QList<Attribute> ReadAttributes(const QString &list) {
    QList<Attribute> attributes;
    const int size = int(list.size());
    int pos = 0;
    while (pos < size) {
        while (pos < size && (list.at(pos) == QLatin1Char(',') || list.at(pos).isSpace()))
            ++pos;
        const int equals = int(list.indexOf(QLatin1Char('='), pos));
        const int comma = int(list.indexOf(QLatin1Char(','), pos));
        if (equals < 0)
            break;
        if (comma >= 0 && comma < equals) {
            pos = comma + 1;
            continue;
        }
        Attribute attribute;
        attribute.name = list.mid(pos, equals - pos).trimmed().toUpper();
        int start = equals + 1;
        while (start < size && list.at(start).isSpace())
            ++start;
        int end;
        if (start < size && list.at(start) == QLatin1Char('"')) {
            const int close = int(list.indexOf(QLatin1Char('"'), start + 1));
            attribute.value = close < 0 ? QString() : list.mid(start + 1, close - start - 1);
            end = close < 0 ? size : int(list.indexOf(QLatin1Char(','), close));
        } else {
            end = int(list.indexOf(QLatin1Char(','), start));
            attribute.value = list.mid(start, (end < 0 ? size : end) - start).trimmed();
        }
        attributes << attribute;
        if (end < 0)
            break;
        pos = end + 1;
    }
    return attributes;
}

QString Value(const QList<Attribute> &attributes, const char *name) {
    for (const Attribute &attribute : attributes) {
        if (attribute.name == QLatin1String(name))
            return attribute.value;
    }
    return QString();
}

int Count(const QList<Attribute> &attributes, const char *name) {
    return int(std::count_if(attributes.begin(), attributes.end(),
                             [name](const Attribute &a) { return a.name == QLatin1String(name); }));
}

// Tabs pass as blanks; every other control character (a NUL, a lone CR, ...) would let a line
// say one thing to this parser and another to the tools.
bool HoldsControlCharacter(const QString &line) {
    for (const QChar c : line) {
        if ((c.category() == QChar::Other_Control && c != QLatin1Char('\t')) ||
            c == QChar(0x2028) || c == QChar(0x2029))
            return true;
    }
    return false;
}

// "n[@o]": a byte range; false when it is none.
bool ReadRange(const QString &text, qint64 &length, qint64 &offset, bool &hasOffset) {
    const QStringList parts = text.trimmed().split(QLatin1Char('@'));
    bool ok = parts.size() <= 2;
    length = ok ? parts.at(0).trimmed().toLongLong(&ok) : 0;
    hasOffset = ok && parts.size() == 2;
    offset = hasOffset ? parts.at(1).trimmed().toLongLong(&ok) : 0;
    return ok && length >= 0 && offset >= 0;
}

// "0x" and up to 32 hexadecimal digits: a 16-byte IV; empty for anything else.
QByteArray ReadIv(const QString &text) {
    static const QRegularExpression hex(QStringLiteral("^0[xX]([0-9A-Fa-f]{1,32})$"));
    const QRegularExpressionMatch m = hex.match(text.trimmed());
    return m.hasMatch()
               ? QByteArray::fromHex(m.captured(1).rightJustified(32, QLatin1Char('0')).toLatin1())
               : QByteArray();
}

bool IsAbsoluteFetchable(const QString &uri) {
    return !FetchableUrl(uri).isEmpty();
}

class Parser {
public:
    Parser(const QString &base, Playlist &out) : m_base(base), m_out(out) {}

    bool Line(const QString &raw) {
        const QString line = raw.trimmed();
        if (HoldsControlCharacter(line))
            return false;
        if (line.isEmpty())
            return true;
        if (!line.startsWith(QLatin1Char('#')))
            return Address(line);
        if (!line.startsWith(QLatin1String("#EXT"), Qt::CaseInsensitive))
            return true;  // a comment
        const int colon = int(line.indexOf(QLatin1Char(':')));
        const QString tag = (colon < 0 ? line : line.left(colon)).toUpper();
        const QString rest = colon < 0 ? QString() : line.mid(colon + 1);
        return Tag(tag, rest);
    }

    bool Finish() {
        // Segments and variants in one playlist: which one the tools would follow is anybody's
        // guess, so neither is.
        if (m_sawSegmentTag && m_sawVariantTag)
            return false;
        // In a master, address lines that no variant tag introduced (a rendition's playlist
        // named on a line of its own) are no segments.
        if (!m_out.Variants.empty()) {
            m_out.IsMaster = true;
            m_out.Media = MediaPlaylist();
        }
        return true;
    }

private:
    // Resolved against the playlist's address; with none (a local playlist) only an absolute
    // http, https, ftp or ftps address stands. Empty when it cannot be resolved.
    QString Resolve(const QString &uri) const {
        if (m_base.isEmpty())
            return IsAbsoluteFetchable(uri) ? uri : QString();
        return ResolveUrl(uri, m_base);
    }

    bool Tag(const QString &tag, const QString &rest) {
        MediaPlaylist &media = m_out.Media;
        if (tag == QLatin1String("#EXTINF")) {
            m_sawSegmentTag = true;
            m_duration = rest.section(QLatin1Char(','), 0, 0).trimmed().toDouble();
        } else if (tag == QLatin1String("#EXT-X-BYTERANGE")) {
            if (!ReadRange(rest, m_length, m_offset, m_hasOffset))
                return false;
            m_ranged = true;
        } else if (tag == QLatin1String("#EXT-X-DISCONTINUITY")) {
            m_discontinuity = true;
        } else if (tag == QLatin1String("#EXT-X-MEDIA-SEQUENCE")) {
            media.MediaSequence = rest.trimmed().toULongLong();
            m_sequence = media.MediaSequence;
        } else if (tag == QLatin1String("#EXT-X-TARGETDURATION")) {
            media.TargetDuration = rest.trimmed().toDouble();
        } else if (tag == QLatin1String("#EXT-X-ENDLIST")) {
            media.EndList = true;
        } else if (tag == QLatin1String("#EXT-X-KEY")) {
            return Key(ReadAttributes(rest));
        } else if (tag == QLatin1String("#EXT-X-MAP")) {
            return Map(ReadAttributes(rest));
        } else if (tag == QLatin1String("#EXT-X-STREAM-INF")) {
            m_sawVariantTag = true;
            const QList<Attribute> attributes = ReadAttributes(rest);
            m_variant = PlaylistVariant();
            m_variant.Bandwidth = Value(attributes, "BANDWIDTH").toLongLong();
            m_variant.Codecs = Value(attributes, "CODECS");
            m_variant.Resolution = Value(attributes, "RESOLUTION");
            m_variant.Audio = Value(attributes, "AUDIO");
            m_variant.Subtitles = Value(attributes, "SUBTITLES");
            m_variantPending = true;
        } else if (tag == QLatin1String("#EXT-X-MEDIA")) {
            const QList<Attribute> attributes = ReadAttributes(rest);
            if (Count(attributes, "URI") > 1)
                return false;
            PlaylistRendition rendition;
            rendition.Type = Value(attributes, "TYPE").toUpper();
            rendition.GroupId = Value(attributes, "GROUP-ID");
            rendition.Name = Value(attributes, "NAME");
            rendition.Language = Value(attributes, "LANGUAGE");
            const QString uri = Value(attributes, "URI").trimmed();
            rendition.Uri = uri.isEmpty() ? QString() : Resolve(uri);
            rendition.Default =
                Value(attributes, "DEFAULT").compare(QLatin1String("YES"), Qt::CaseInsensitive) ==
                0;
            m_out.Renditions.push_back(rendition);
        } else if (tag == QLatin1String("#EXT-X-I-FRAME-STREAM-INF")) {
            m_sawVariantTag = true;
        }
        return true;
    }

    bool Key(const QList<Attribute> &attributes) {
        if (Count(attributes, "URI") > 1 || Count(attributes, "METHOD") != 1)
            return false;
        const QString method = Value(attributes, "METHOD").trimmed().toUpper();
        // The method is written back into the local playlist: only a plain name may pass.
        static const QRegularExpression name(QStringLiteral("^[A-Z0-9-]+$"));
        if (!name.match(method).hasMatch())
            return false;
        if (method == QLatin1String("NONE")) {
            m_key = -1;
            return true;
        }
        const QString uri = Value(attributes, "URI").trimmed();
        PlaylistKey key;
        key.Method = method;
        // Without a URI there is no key to fetch, and the merge cannot decrypt: it fails there.
        // An address that cannot be resolved stays as written, and fetching it fails.
        const QString resolved = uri.isEmpty() ? QString() : Resolve(uri);
        key.Uri = resolved.isEmpty() ? uri : resolved;
        const QString iv = Value(attributes, "IV");
        key.Iv = ReadIv(iv);
        if (!iv.isEmpty() && key.Iv.isEmpty())
            return false;
        m_out.Media.Keys.push_back(key);
        m_key = int(m_out.Media.Keys.size()) - 1;
        return true;
    }

    bool Map(const QList<Attribute> &attributes) {
        if (Count(attributes, "URI") > 1)
            return false;
        const QString uri = Value(attributes, "URI").trimmed();
        const QString resolved = uri.isEmpty() ? QString() : Resolve(uri);
        if (resolved.isEmpty()) {
            m_map = -1;
            return true;
        }
        PlaylistMap map;
        map.Uri = resolved;
        const QString range = Value(attributes, "BYTERANGE");
        bool hasOffset = false;
        if (!range.isEmpty() && !ReadRange(range, map.Length, map.Offset, hasOffset))
            return false;
        m_out.Media.Maps.push_back(map);
        m_map = int(m_out.Media.Maps.size()) - 1;
        return true;
    }

    bool Address(const QString &line) {
        ++m_out.AddressLines;
        if (m_variantPending) {
            m_variantPending = false;
            m_variant.Uri = Resolve(line);
            if (!m_variant.Uri.isEmpty())
                m_out.Variants.push_back(m_variant);
            return true;
        }
        const quint64 sequence = m_sequence++;
        const bool ranged = std::exchange(m_ranged, false);
        const double duration = std::exchange(m_duration, 0.0);
        const QString uri = Resolve(line);
        if (uri.isEmpty())
            return true;  // left out with its duration; a discontinuity carries over
        PlaylistSegment segment;
        segment.Uri = uri;
        segment.Duration = duration;
        segment.Sequence = sequence;
        segment.Key = m_key;
        segment.Map = m_map;
        segment.Discontinuity = std::exchange(m_discontinuity, false);
        segment.Number = ++m_number;
        if (ranged) {
            segment.Length = m_length;
            // Without an offset a range follows the previous range of the same resource.
            segment.Offset = m_hasOffset ? m_offset : m_nextOffset[uri];
            m_nextOffset[uri] = segment.Offset + segment.Length;
        }
        m_out.Media.Segments.push_back(segment);
        return true;
    }

    const QString m_base;
    Playlist &m_out;
    bool m_sawSegmentTag = false;
    bool m_sawVariantTag = false;
    bool m_variantPending = false;
    PlaylistVariant m_variant;
    double m_duration = 0;
    bool m_ranged = false;
    qint64 m_length = 0, m_offset = 0;
    bool m_hasOffset = false;
    std::map<QString, qint64> m_nextOffset;
    bool m_discontinuity = false;
    quint64 m_sequence = 0;
    int m_key = -1;
    int m_map = -1;
    int m_number = 0;
};

bool IsAudioOrTextCodec(const QString &codec) {
    static const QStringList prefixes{
        QStringLiteral("mp4a"), QStringLiteral("ac-3"), QStringLiteral("ec-3"),
        QStringLiteral("ac-4"), QStringLiteral("opus"), QStringLiteral("flac"),
        QStringLiteral("alac"), QStringLiteral("mp3"),  QStringLiteral("dts"),
        QStringLiteral("wvtt"), QStringLiteral("stpp")};
    const QString lower = codec.trimmed().toLower();
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&lower](const QString &p) { return lower.startsWith(p); });
}

// "1.0", "0.533333": microseconds at most, no trailing zeros beyond the first decimal.
QString DurationText(double seconds) {
    QString text = QString::number(seconds, 'f', 6);
    while (text.endsWith(QLatin1Char('0')) && !text.endsWith(QLatin1String(".0")))
        text.chop(1);
    return text;
}

QString RangeText(qint64 length, qint64 offset) {
    return QString::number(length) + QLatin1Char('@') + QString::number(offset);
}

}  // namespace

bool PlaylistVariant::HasVideo() const {
    if (!Resolution.trimmed().isEmpty() || Codecs.trimmed().isEmpty())
        return true;
    const QStringList codecs = Codecs.split(QLatin1Char(','), Qt::SkipEmptyParts);
    return std::any_of(codecs.begin(), codecs.end(),
                       [](const QString &codec) { return !IsAudioOrTextCodec(codec); });
}

bool ParsePlaylist(const QStringList &lines, const QString &baseUrl, Playlist &out) {
    out = Playlist();
    Parser parser(baseUrl, out);
    for (const QString &line : lines) {
        if (!line.trimmed().isEmpty())
            ++out.LineCount;
        if (!parser.Line(line)) {
            out = Playlist();
            return false;
        }
    }
    if (!parser.Finish()) {
        out = Playlist();
        return false;
    }
    return true;
}

int ChooseVariantIndex(const Playlist &playlist, VariantChoice choice) {
    const std::vector<PlaylistVariant> &variants = playlist.Variants;
    const bool anyVideo = std::any_of(variants.begin(), variants.end(),
                                      [](const PlaylistVariant &v) { return v.HasVideo(); });
    int best = -1;
    for (int i = 0; i < int(variants.size()); ++i) {
        if (anyVideo && !variants[i].HasVideo())
            continue;
        if (best < 0) {
            best = i;
            if (choice == VariantChoice::First)
                break;
            continue;
        }
        const qint64 rate = variants[i].Bandwidth, bestRate = variants[best].Bandwidth;
        if (choice == VariantChoice::Highest ? rate > bestRate : rate < bestRate)
            best = i;
    }
    return best;
}

QString AudioRenditionFor(const Playlist &playlist, int variant) {
    if (variant < 0 || variant >= int(playlist.Variants.size()))
        return QString();
    const QString group = playlist.Variants[variant].Audio;
    if (group.isEmpty())
        return QString();
    const PlaylistRendition *first = nullptr;
    for (const PlaylistRendition &rendition : playlist.Renditions) {
        if (rendition.Type != QLatin1String("AUDIO") || rendition.GroupId != group)
            continue;
        if (rendition.Default)
            return rendition.Uri;
        if (!first)
            first = &rendition;
    }
    return first ? first->Uri : QString();
}

std::vector<PlaylistRendition> SubtitleRenditionsFor(const Playlist &playlist, int variant) {
    std::vector<PlaylistRendition> found;
    if (variant < 0 || variant >= int(playlist.Variants.size()))
        return found;
    const QString group = playlist.Variants[size_t(variant)].Subtitles;
    for (const PlaylistRendition &rendition : playlist.Renditions) {
        if (group.isEmpty() || int(found.size()) >= MaxSubtitleRenditions)
            break;
        if (rendition.Type != QLatin1String("SUBTITLES") || rendition.GroupId != group ||
            rendition.Uri.isEmpty() ||
            std::any_of(found.begin(), found.end(), [&rendition](const PlaylistRendition &r) {
                return r.Uri == rendition.Uri;
            }))
            continue;
        found.push_back(rendition);
    }
    return found;
}

QStringList WriteLocalPlaylist(const MediaPlaylist &media, const LocalNames &names) {
    double longest = media.TargetDuration;
    for (const PlaylistSegment &segment : media.Segments)
        longest = qMax(longest, segment.Duration);
    QStringList lines{QStringLiteral("#EXTM3U"),
                      QStringLiteral("#EXT-X-TARGETDURATION:%1").arg(qint64(std::ceil(longest))),
                      QStringLiteral("#EXT-X-MEDIA-SEQUENCE:%1").arg(media.MediaSequence)};
    int key = -1, map = -1;
    for (size_t i = 0; i < media.Segments.size(); ++i) {
        const PlaylistSegment &segment = media.Segments[i];
        if (segment.Discontinuity)
            lines << QStringLiteral("#EXT-X-DISCONTINUITY");
        if (segment.Map >= 0 && segment.Map != map) {
            map = segment.Map;
            const PlaylistMap &m = media.Maps[size_t(map)];
            QString line = QStringLiteral("#EXT-X-MAP:URI=\"%1\"").arg(names.Maps[size_t(map)]);
            if (m.Length >= 0)
                line += QStringLiteral(",BYTERANGE=\"%1\"").arg(RangeText(m.Length, m.Offset));
            lines << line;
        }
        if (segment.Key != key) {
            key = segment.Key;
            if (key < 0) {
                lines << QStringLiteral("#EXT-X-KEY:METHOD=NONE");
            } else {
                const PlaylistKey &k = media.Keys[size_t(key)];
                QString line = QStringLiteral("#EXT-X-KEY:METHOD=") + k.Method;
                if (!names.Keys[size_t(key)].isEmpty())
                    line += QStringLiteral(",URI=\"%1\"").arg(names.Keys[size_t(key)]);
                if (!k.Iv.isEmpty())
                    line += QLatin1String(",IV=0x") + QString::fromLatin1(k.Iv.toHex());
                lines << line;
            }
        }
        lines << QStringLiteral("#EXTINF:%1,").arg(DurationText(segment.Duration));
        if (segment.Length >= 0)
            lines << QStringLiteral("#EXT-X-BYTERANGE:") +
                         RangeText(segment.Length, segment.Offset);
        lines << names.Segments[i];
    }
    lines << QStringLiteral("#EXT-X-ENDLIST");
    return lines;
}

// Fetches a playlist into `file` and parses it against the address it finally came from, so
// that relative lines of a redirected playlist resolve where the server meant them to.
bool ReadRemotePlaylist(const QString &url, const QString &file, const QString &headers,
                        const bool *cancel, Playlist &playlist, QString &reason) {
    // A failed fetch keeps the old file, which must not pass for the new playlist.
    QFile::remove(file);
    QString finalUrl;
    FetchRequest request;
    request.headers = headers;
    request.maxBytes = PlaylistMaxBytes;
    request.cancel = cancel;
    request.finalUrl = &finalUrl;
    if (!DownloadFile(url, file, request)) {
        reason = UrlFetcher::LastError();
        return false;
    }
    if (finalUrl.isEmpty())
        finalUrl = url;
    QStringList lines;
    if (!IsM3u8File(file) || LoadTextFile(file, lines, true) == 0) {
        reason = QStringLiteral("不是 m3u8 播放列表 (%1)").arg(finalUrl);
        return false;
    }
    if (!ParsePlaylist(lines, finalUrl, playlist)) {
        reason = QStringLiteral("播放列表含有不允许的内容 (%1)").arg(finalUrl);
        return false;
    }
    return true;
}

QByteArray SequenceIv(quint64 sequence) {
    QByteArray iv(16, '\0');
    for (int i = 15; i >= 8; --i, sequence >>= 8)
        iv[i] = char(sequence & 0xff);
    return iv;
}
