#include "hls/Subtitles.h"

#include "hls/M3u8Helpers.h"
#include "hls/Playlist.h"
#include "hls/TM3u8Class.h"
#include "hls/TM3u8Status.h"
#include "support/TextUtils.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

namespace {

constexpr int kTsPacket = 188;
constexpr qint64 kTsClockWrap = qint64(1) << 33;

// ISO 639-1 codes and their ISO 639-2/T codes, as ISO base media files name languages.
const char kLanguages[] =
    "aa aar ab abk ae ave af afr ak aka am amh an arg ar ara as asm av ava ay aym az aze "
    "ba bak be bel bg bul bh bih bi bis bm bam bn ben bo bod br bre bs bos ca cat ce che "
    "ch cha co cos cr cre cs ces cu chu cv chv cy cym da dan de deu dv div dz dzo ee ewe "
    "el ell en eng eo epo es spa et est eu eus fa fas ff ful fi fin fj fij fo fao fr fra "
    "fy fry ga gle gd gla gl glg gn grn gu guj gv glv ha hau he heb hi hin ho hmo hr hrv "
    "ht hat hu hun hy hye hz her ia ina id ind ie ile ig ibo ii iii ik ipk io ido is isl "
    "it ita iu iku ja jpn jv jav ka kat kg kon ki kik kj kua kk kaz kl kal km khm kn kan "
    "ko kor kr kau ks kas ku kur kv kom kw cor ky kir la lat lb ltz lg lug li lim ln lin "
    "lo lao lt lit lu lub lv lav mg mlg mh mah mi mri mk mkd ml mal mn mon mr mar ms msa "
    "mt mlt my mya na nau nb nob nd nde ne nep ng ndo nl nld nn nno no nor nr nbl nv nav "
    "ny nya oc oci oj oji om orm or ori os oss pa pan pi pli pl pol ps pus pt por qu que "
    "rm roh rn run ro ron ru rus rw kin sa san sc srd sd snd se sme sg sag si sin sk slk "
    "sl slv sm smo sn sna so som sq sqi sr srp ss ssw st sot su sun sv swe sw swa ta tam "
    "te tel tg tgk th tha ti tir tk tuk tl tgl tn tsn to ton tr tur ts tso tt tat tw twi "
    "ty tah ug uig uk ukr ur urd uz uzb ve ven vi vie vo vol wa wln wo wol xh xho yi yid "
    "yo yor za zha zh zho zu zul iw heb in ind ji yid";

bool IsLetters(const QString &text) {
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return (c >= QLatin1Char('a') && c <= QLatin1Char('z')); });
}

// "hh:mm:ss.ttt" or "mm:ss.ttt" in milliseconds; -1 when it is neither.
qint64 ReadTimestamp(const QString &text) {
    static const QRegularExpression form(
        QStringLiteral("^(?:(\\d{1,9}):)?([0-5]\\d):([0-5]\\d)\\.(\\d{3})$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return -1;
    return ((m.captured(1).toLongLong() * 60 + m.captured(2).toLongLong()) * 60 +
            m.captured(3).toLongLong()) *
               1000 +
           m.captured(4).toLongLong();
}

QString TimestampText(qint64 ms) {
    return QStringLiteral("%1:%2:%3.%4")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

// "MPEGTS:900000,LOCAL:00:00:00.000" (either order): false when either part is missing.
bool ReadTimestampMap(const QString &value, qint64 &mpegts, qint64 &local) {
    mpegts = local = -1;
    for (const QString &part : value.split(QLatin1Char(','))) {
        const QString name = part.section(QLatin1Char(':'), 0, 0).trimmed().toUpper();
        const QString rest = part.section(QLatin1Char(':'), 1).trimmed();
        bool ok = false;
        if (name == QLatin1String("MPEGTS")) {
            const qint64 value90k = rest.toLongLong(&ok);
            mpegts = ok && value90k >= 0 ? value90k % kTsClockWrap : -1;
        } else if (name == QLatin1String("LOCAL")) {
            local = ReadTimestamp(rest);
        }
    }
    return mpegts >= 0 && local >= 0;
}

// Control characters would let a cue's text end the cue, or more, in ffmpeg's reading.
QString Printable(QString line) {
    line.removeIf([](QChar c) {
        return (c.category() == QChar::Other_Control && c != QLatin1Char('\t')) ||
               c == QChar(0x2028) || c == QChar(0x2029);
    });
    return line;
}

}  // namespace

SegmentContent CheckWebVttContent(const QString &file) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly) || in.size() > WebVttMaxBytes)
        return SegmentContent::Broken;
    QByteArray head = in.read(16);
    if (head.startsWith("\xEF\xBB\xBF"))
        head.remove(0, 3);
    if (!head.startsWith("WEBVTT"))
        return SegmentContent::Broken;
    const char next = head.size() > 6 ? head.at(6) : '\n';
    return next == ' ' || next == '\t' || next == '\r' || next == '\n' ? SegmentContent::Whole
                                                                       : SegmentContent::Broken;
}

QString SubtitleLanguageCode(const QString &language) {
    static const QHash<QString, QString> codes = [] {
        QHash<QString, QString> map;
        const QStringList words = QString::fromLatin1(kLanguages).split(QLatin1Char(' '));
        for (int i = 0; i + 1 < words.size(); i += 2)
            map.insert(words.at(i), words.at(i + 1));
        return map;
    }();
    const QString primary =
        language.trimmed().toLower().section(QRegularExpression(QStringLiteral("[-_]")), 0, 0);
    if (primary.size() == 2)
        return codes.value(primary, QStringLiteral("und"));
    return primary.size() == 3 && IsLetters(primary) ? primary : QStringLiteral("und");
}

qint64 FirstPresentationTime(const QByteArray &head) {
    const auto *data = reinterpret_cast<const quint8 *>(head.constData());
    const qint64 size = head.size();
    // Past anything in front of the first packet (an ID3 tag, say): three sync bytes in a row,
    // which an MP4 holds by chance hardly ever.
    qint64 pos = 0;
    while (pos + 2 * kTsPacket < size && !(data[pos] == 0x47 && data[pos + kTsPacket] == 0x47 &&
                                           data[pos + 2 * kTsPacket] == 0x47))
        ++pos;
    QSet<int> seen;
    qint64 earliest = -1;
    for (; pos + kTsPacket <= size && data[pos] == 0x47; pos += kTsPacket) {
        const quint8 *p = data + pos;
        const int pid = ((p[1] & 0x1f) << 8) | p[2];
        const int control = (p[3] >> 4) & 3;
        if (!(p[1] & 0x40) || !(control & 1) || seen.contains(pid))
            continue;
        const int start = 4 + ((control & 2) ? 1 + p[4] : 0);
        if (start + 14 > kTsPacket)
            continue;
        const quint8 *pes = p + start;
        const quint8 id = pes[3];
        if (pes[0] != 0 || pes[1] != 0 || pes[2] != 1 ||
            !((id >= 0xC0 && id <= 0xEF) || id == 0xBD))
            continue;
        seen.insert(pid);
        if (!(pes[7] & 0x80))
            continue;
        const qint64 pts = (qint64((pes[9] >> 1) & 7) << 30) | (qint64(pes[10]) << 22) |
                           (qint64(pes[11] >> 1) << 15) | (qint64(pes[12]) << 7) |
                           qint64(pes[13] >> 1);
        earliest = earliest < 0 ? pts : qMin(earliest, pts);
    }
    return earliest;
}

QByteArray DecryptHead(const QByteArray &head, const QByteArray &key, const QByteArray &iv) {
    const Aes128 aes(key);
    if (!aes.Valid() || iv.size() != 16)
        return QByteArray();
    QByteArray plain = head.left(head.size() - head.size() % 16), previous = iv;
    CbcDecrypt(aes, plain, previous);
    return plain;
}

int JoinWebVtt(const QStringList &files, qint64 start, const QString &out) {
    static const QRegularExpression timing(QStringLiteral("^(\\S+)\\s+-->\\s+(\\S+)"));
    QStringList lines;
    QSet<QString> written;
    int cues = 0;
    for (int f = 0; f < files.size(); ++f) {
        QFile in(files.at(f));
        if (!in.open(QIODevice::ReadOnly))
            continue;
        QString text = QString::fromUtf8(in.read(WebVttMaxBytes));
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"))
            .replace(QLatin1Char('\r'), QLatin1Char('\n'));
        const QStringList blocks =
            text.split(QRegularExpression(QStringLiteral("\\n[ \\t]*\\n")), Qt::SkipEmptyParts);
        if (blocks.isEmpty() || !blocks.first().startsWith(QLatin1String("WEBVTT")))
            continue;
        qint64 offsetMs = 0;
        for (const QString &line : blocks.first().split(QLatin1Char('\n'))) {
            qint64 mpegts = -1, local = -1;
            if (!line.startsWith(QLatin1String("X-TIMESTAMP-MAP=")) ||
                !ReadTimestampMap(line.mid(16), mpegts, local))
                continue;
            if (start < 0)
                start = mpegts;
            // The nearest way round the 33-bit clock.
            qint64 delta = (mpegts - start) % kTsClockWrap;
            if (delta > kTsClockWrap / 2)
                delta -= kTsClockWrap;
            else if (delta < -kTsClockWrap / 2)
                delta += kTsClockWrap;
            offsetMs = delta / 90 - local;
        }
        if (lines.isEmpty()) {
            for (const QString &line : blocks.first().split(QLatin1Char('\n'))) {
                if (!line.startsWith(QLatin1String("X-TIMESTAMP-MAP=")))
                    lines << Printable(line);
            }
            lines << QString();
        }
        for (int b = 1; b < blocks.size(); ++b) {
            QStringList block = blocks.at(b).split(QLatin1Char('\n'));
            // An identifier may come before the timing line.
            if (!block.first().contains(QLatin1String("-->")) && block.size() > 1)
                block.removeFirst();
            const QRegularExpressionMatch m = timing.match(block.first());
            const qint64 from = m.hasMatch() ? ReadTimestamp(m.captured(1)) : -1;
            const qint64 to = m.hasMatch() ? ReadTimestamp(m.captured(2)) : -1;
            if (from < 0 || to < 0)
                continue;  // a NOTE, STYLE or REGION block, or no cue at all
            const qint64 begin = qMax<qint64>(0, from + offsetMs), end = to + offsetMs;
            if (end <= begin)
                continue;
            QStringList cue{TimestampText(begin) + QLatin1String(" --> ") + TimestampText(end)};
            for (int i = 1; i < block.size(); ++i) {
                if (!block.at(i).contains(QLatin1String("-->")))
                    cue << Printable(block.at(i));
            }
            const QString key = cue.join(QLatin1Char('\n'));
            if (written.contains(key))
                continue;
            written.insert(key);
            lines << cue << QString();
            ++cues;
        }
    }
    if (lines.isEmpty())
        return 0;
    QSaveFile file(out);
    if (!file.open(QIODevice::WriteOnly))
        return -1;
    file.write(lines.join(QLatin1Char('\n')).toUtf8());
    return file.commit() ? cues : -1;
}

QString SubtitleMergeParamLine(const QString &videoInput, bool concat, const QString &audioFile,
                               const std::vector<SubtitleTrack> &tracks,
                               const QString &ffmpegParams, const QString &outFile) {
    const auto quoted = [](const QString &value) {
        return QLatin1Char('"') + QuoteField(value) + QLatin1Char('"');
    };
    const QString playlistInput =
        QStringLiteral(" -protocol_whitelist file,crypto -allowed_extensions ALL -i ");
    QString line = QStringLiteral(" -y");
    line += concat ? QStringLiteral(" -protocol_whitelist file -f concat -i ") + quoted(videoInput)
                   : playlistInput + quoted(videoInput);
    int inputs = 1;
    if (!audioFile.isEmpty()) {
        line += playlistInput + quoted(audioFile);
        ++inputs;
    }
    for (const SubtitleTrack &track : tracks)
        line += QStringLiteral(" -protocol_whitelist file -f webvtt -i ") + quoted(track.File);
    line += audioFile.isEmpty() ? QStringLiteral(" -map 0:v? -map 0:a?")
                                : QStringLiteral(" -map 0:v? -map 1:a");
    for (size_t i = 0; i < tracks.size(); ++i)
        line += QStringLiteral(" -map ") + QString::number(inputs + int(i)) + QStringLiteral(":s");
    line += QLatin1Char(' ') + ffmpegParams + QStringLiteral(" -c:s mov_text");
    // The playlist's values only ever follow "title=" and "handler_name=" in an argument of
    // their own, so none can become an option.
    for (size_t i = 0; i < tracks.size(); ++i) {
        const QString stream =
            QStringLiteral(" -metadata:s:s:") + QString::number(i) + QLatin1Char(' ');
        line +=
            stream + quoted(QStringLiteral("language=") + SubtitleLanguageCode(tracks[i].Language));
        line += stream + quoted(QStringLiteral("title=") + tracks[i].Name);
        // An MP4 of ffmpeg 5.1 keeps a track's name only as its handler's name.
        line += stream + quoted(QStringLiteral("handler_name=") + tracks[i].Name);
    }
    return line + QLatin1Char(' ') + quoted(outFile);
}

void TM3u8::WantSubtitles(const Playlist &master, int variant) {
    m_subtitlesWanted.clear();
    if (!WithSubtitles)
        return;
    for (const PlaylistRendition &rendition : SubtitleRenditionsFor(master, variant))
        m_subtitlesWanted.push_back(
            {rendition.Uri, rendition.Language, rendition.Name.left(SubtitleNameMaxLength), {}});
}

// The subtitle renditions of the chosen variant join the task: their segments are fetched in
// the same runs as the video's, under names of their own. One that cannot be read is left
// out with a note: subtitles are no reason to lose the video. False only when stopped.
bool TM3u8::AnalyseSubtitles(const QString &headers) {
    const std::vector<SubtitleRendition> wanted = std::move(m_subtitlesWanted);
    m_subtitlesWanted.clear();
    for (const SubtitleRendition &rendition : wanted) {
        const int track = int(SubtitleRenditions.size());
        const QString file = WorkDir + QStringLiteral("/subtitle%1.m3u8").arg(track);
        Playlist playlist;
        QString reason;
        const bool read =
            ReadRemotePlaylist(rendition.Url, file, headers, &StopRequested, playlist, reason);
        if (StopRequested)
            return FailAnalysis(QStringLiteral("已停止"));
        const std::vector<PlaylistSegment> &segments = playlist.Media.Segments;
        // Only plain WebVTT files: encrypted, ranged or fMP4 subtitles are not joined here.
        const bool plain = read && !segments.empty() && playlist.Media.Keys.empty() &&
                           playlist.Media.Maps.empty() &&
                           std::all_of(segments.begin(), segments.end(),
                                       [](const PlaylistSegment &s) { return s.Length < 0; });
        if (!plain) {
            SubtitleNotes << QStringLiteral("字幕 \"%1\" 的播放列表不可用, 已略过 (%2)")
                                 .arg(rendition.Name, read ? rendition.Url : reason);
            continue;
        }
        SubtitleRendition taken = rendition;
        const int width = QString::number(segments.size()).size();
        for (const PlaylistSegment &segment : segments) {
            SegmentRec rec;
            rec.Url = segment.Uri;
            rec.LocalName = QStringLiteral("sub%1_%2.vtt")
                                .arg(track)
                                .arg(segment.Number, width, 10, QLatin1Char('0'));
            rec.Subtitle = true;
            taken.Segments.push_back(Segments.size());
            Segments.push_back(rec);
        }
        SubtitleRenditions.push_back(taken);
        TM3u8Status::LetEventsRun();
    }
    return true;
}

bool TM3u8::OnlySubtitlesMissing() const {
    return std::all_of(Segments.begin(), Segments.end(),
                       [](const SegmentRec &segment) { return segment.Done || segment.Subtitle; });
}

// Where the merged file's clock begins: the earliest presentation time of the first segment,
// which ffmpeg takes for its 0. -1 when it is no MPEG-TS (an fMP4 stream, say).
qint64 TM3u8::VideoStartTime() const {
    if (Segments.empty())
        return -1;
    const SegmentRec &first = Segments.front();
    QFile in(WorkDir + QLatin1Char('/') + first.LocalName);
    if (!in.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray head = in.read(1024 * 1024);
    return FirstPresentationTime(
        first.Key >= 0 ? DecryptHead(head, m_keys.value(first.Key), first.Iv) : head);
}

std::vector<SubtitleTrack> TM3u8::JoinSubtitles() {
    std::vector<SubtitleTrack> tracks;
    if (SubtitleRenditions.empty())
        return tracks;
    const qint64 start = VideoStartTime();
    for (size_t r = 0; r < SubtitleRenditions.size(); ++r) {
        const SubtitleRendition &rendition = SubtitleRenditions[r];
        QStringList files;
        bool complete = true;
        for (const size_t i : rendition.Segments) {
            complete = complete && Segments[i].Done;
            files << WorkDir + QLatin1Char('/') + Segments[i].LocalName;
        }
        const QString out = WorkDir + QStringLiteral("/subtitle%1.vtt").arg(r);
        if (!complete || JoinWebVtt(files, start, out) <= 0) {
            SubtitleNotes << QStringLiteral("字幕 \"%1\" 不完整或没有字幕, 已略过 (%2)")
                                 .arg(rendition.Name, rendition.Url);
            continue;
        }
        tracks.push_back({out, rendition.Language, rendition.Name});
        // A long film's rendition is a thousand files or more.
        TM3u8Status::LetEventsRun();
    }
    return tracks;
}
