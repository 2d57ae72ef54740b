#include "hls/M3u8Helpers.h"

#include "support/FileUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

bool ProxyEnabled = false;
QString ProxyString;
VariantChoice VariantPreference = VariantChoice::First;
int SegmentConcurrency = DefaultSegmentConcurrency;

int SegmentConcurrencyFromNumber(int number) {
    return number < MinSegmentConcurrency || number > MaxSegmentConcurrency
               ? DefaultSegmentConcurrency
               : number;
}

namespace {

const QLatin1String kUriAttr("URI=\"");

// Fields of the text split at ':'; a double quote at the start of a field opens a quoted part
// in which ':' does not split (a doubled quote inside it stands for one quote).
int CountColonFields(const QString &text) {
    int fields = 1;
    const int n = text.size();
    int i = 0;
    while (i < n) {
        if (text.at(i) == QLatin1Char('"')) {
            ++i;
            while (i < n) {
                if (text.at(i) == QLatin1Char('"')) {
                    if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
        }
        while (i < n && text.at(i) != QLatin1Char(':'))
            ++i;
        if (i < n) {
            ++fields;
            ++i;
        }
    }
    return fields;
}

QString RemoveBlanks(QString text) {
    text.remove(QLatin1Char(' '));
    text.remove(QLatin1Char('\t'));
    return text;
}

}  // namespace

bool IsUrl(const QString &s) {
    const QString lower = s.toLower();
    if (lower.size() < 6)
        return false;
    return lower.contains(QLatin1String("https://")) || lower.contains(QLatin1String("http://")) ||
           lower.contains(QLatin1String("ftp://")) || lower.contains(QLatin1String("ftps://"));
}

QString GetUrlRoot(const QString &url) {
    const int scheme = url.indexOf(QLatin1String("://"));
    if (scheme < 0)
        return url;
    const int slash = url.indexOf(QLatin1Char('/'), scheme + 3);
    if (slash < 0)
        return url;
    return url.left(slash);
}

QString GetUrlDir(const QString &url) {
    QString rest = url;
    const int query = rest.indexOf(QLatin1Char('?'));
    if (query >= 0)
        rest.truncate(query);
    const int slash = rest.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return rest;
    return rest.left(slash + 1);
}

QString GetKeyUri(const QString &line) {
    const int start = line.indexOf(kUriAttr);
    if (start < 0)
        return QString();
    const int valueStart = start + kUriAttr.size();
    const int end = line.indexOf(QLatin1Char('"'), valueStart);
    if (end < 0)
        return QString();
    return line.mid(valueStart, end - valueStart);
}

QString ReplaceKeyUri(const QString &line, const QString &uri) {
    const int start = line.indexOf(kUriAttr);
    if (start < 0)
        return line;
    const int valueStart = start + kUriAttr.size();
    const int end = line.indexOf(QLatin1Char('"'), valueStart);
    if (end < 0)
        return line;
    return line.left(valueStart) + uri + line.mid(end);
}

QString ResolveUrl(const QString &line, const QString &playlistUrl) {
    if (line.startsWith(QLatin1String("//"))) {
        const int scheme = playlistUrl.indexOf(QLatin1String("://"));
        return scheme > 0 ? playlistUrl.left(scheme + 1) + line : line;
    }
    if (IsUrl(line))
        return line;
    return line.startsWith(QLatin1Char('/')) ? GetUrlRoot(playlistUrl) + line
                                             : GetUrlDir(playlistUrl) + line;
}

QString VariantChoiceName(VariantChoice choice) {
    switch (choice) {
        case VariantChoice::Highest:
            return QStringLiteral("highest");
        case VariantChoice::Lowest:
            return QStringLiteral("lowest");
        case VariantChoice::First:
            break;
    }
    return QStringLiteral("first");
}

VariantChoice VariantChoiceFromName(const QString &name, bool *known) {
    const QString key = name.trimmed().toLower();
    for (const VariantChoice choice :
         {VariantChoice::First, VariantChoice::Highest, VariantChoice::Lowest}) {
        if (key == VariantChoiceName(choice)) {
            if (known)
                *known = true;
            return choice;
        }
    }
    if (known)
        *known = false;
    return VariantChoice::First;
}

namespace {

bool IsStreamInfLine(const QString &tag) {
    return tag.left(18).toUpper() == QLatin1String("#EXT-X-STREAM-INF:");
}

// A master entry's address is the next line after its tag that is neither blank nor a tag;
// lines.size() when there is none.
int EntryAddressLine(const QStringList &lines, int tagLine) {
    int next = tagLine + 1;
    while (next < lines.size() &&
           (lines.at(next).trimmed().isEmpty() || lines.at(next).trimmed().startsWith('#')))
        ++next;
    return next;
}

// The value of the attribute `name` (any letter case) in a tag's attribute list, quotes
// removed, into *value; false when the tag does not carry it. Commas inside quotes belong to
// the value (CODECS="avc1,mp4a"); an unterminated quoted value counts as empty.
bool TagAttribute(const QString &tag, const QString &name, QString *value) {
    const int size = int(tag.size());
    int pos = int(tag.indexOf(QLatin1Char(':')));
    if (pos < 0)
        return false;
    ++pos;
    while (pos < size) {
        const int equals = int(tag.indexOf(QLatin1Char('='), pos));
        const int comma = int(tag.indexOf(QLatin1Char(','), pos));
        if (equals < 0)
            return false;
        if (comma >= 0 && comma < equals) {
            pos = comma + 1;  // a bare word, no value
            continue;
        }
        const QString key = tag.mid(pos, equals - pos).trimmed();
        int start = equals + 1;
        while (start < size && tag.at(start).isSpace())
            ++start;
        QString found;
        int end;
        if (start < size && tag.at(start) == QLatin1Char('"')) {
            const int close = int(tag.indexOf(QLatin1Char('"'), start + 1));
            if (close >= 0)
                found = tag.mid(start + 1, close - start - 1);
            end = close < 0 ? size : int(tag.indexOf(QLatin1Char(','), close));
        } else {
            end = int(tag.indexOf(QLatin1Char(','), start));
            found = tag.mid(start, (end < 0 ? size : end) - start).trimmed();
        }
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            *value = found;
            return true;
        }
        if (end < 0)
            return false;
        pos = end + 1;
    }
    return false;
}

bool AttributeIs(const QString &tag, const QString &name, const QString &wanted) {
    QString value;
    return TagAttribute(tag, name, &value) && value.compare(wanted, Qt::CaseInsensitive) == 0;
}

}  // namespace

QString ChooseVariant(const QStringList &lines, VariantChoice choice) {
    if (choice == VariantChoice::First)
        return QString();
    static const QRegularExpression bandwidth(QStringLiteral("[:,]\\s*BANDWIDTH\\s*=\\s*(\\d+)"),
                                              QRegularExpression::CaseInsensitiveOption);
    QString best;
    qint64 bestRate = -1;
    for (int i = 0; i < lines.size(); ++i) {
        const QString tag = lines.at(i).trimmed();
        if (!IsStreamInfLine(tag))
            continue;
        const int next = EntryAddressLine(lines, i);
        if (next >= lines.size())
            break;
        const QRegularExpressionMatch m = bandwidth.match(tag);
        const qint64 rate = m.hasMatch() ? m.captured(1).toLongLong() : 0;
        const bool better =
            bestRate < 0 || (choice == VariantChoice::Highest ? rate > bestRate : rate < bestRate);
        if (better) {
            bestRate = rate;
            best = lines.at(next).trimmed();
        }
    }
    return best;
}

QString AudioRenditionUri(const QStringList &lines, const QString &variant) {
    const QString wanted = variant.trimmed();
    QString group;
    bool entryFound = false;
    for (int i = 0; i < lines.size() && !entryFound; ++i) {
        const QString tag = lines.at(i).trimmed();
        if (!IsStreamInfLine(tag))
            continue;
        const int next = EntryAddressLine(lines, i);
        if (next >= lines.size())
            break;
        if (!wanted.isEmpty() && lines.at(next).trimmed() != wanted)
            continue;
        entryFound = true;
        TagAttribute(tag, QStringLiteral("AUDIO"), &group);
    }
    if (group.isEmpty())
        return QString();
    // Group names are compared as written; the enumerated values in any letter case.
    QString first;
    bool firstFound = false;
    for (const QString &line : lines) {
        const QString tag = line.trimmed();
        QString groupId;
        if (tag.left(13).toUpper() != QLatin1String("#EXT-X-MEDIA:") ||
            !AttributeIs(tag, QStringLiteral("TYPE"), QStringLiteral("AUDIO")) ||
            !TagAttribute(tag, QStringLiteral("GROUP-ID"), &groupId) || groupId != group)
            continue;
        QString uri;
        TagAttribute(tag, QStringLiteral("URI"), &uri);
        if (AttributeIs(tag, QStringLiteral("DEFAULT"), QStringLiteral("YES")))
            return uri.trimmed();
        if (!firstFound) {
            first = uri.trimmed();
            firstFound = true;
        }
    }
    return first;
}

namespace {

// The URI attribute of a tag: after the tag's colon or a comma, quoted or not.
const QRegularExpression &UriAttribute() {
    static const QRegularExpression attr(
        QStringLiteral("([:,])\\s*URI\\s*=\\s*(\"[^\"]*(\"|$)|[^,]*)\\s*(,?)"),
        QRegularExpression::CaseInsensitiveOption);
    return attr;
}

}  // namespace

bool HasUriAttribute(const QString &line) {
    return line.startsWith(QLatin1Char('#')) && UriAttribute().match(line).hasMatch();
}

QString RemoveUriAttribute(const QString &line) {
    QString out = line;
    for (;;) {
        const QRegularExpressionMatch m = UriAttribute().match(out);
        if (!m.hasMatch())
            return out;
        // Keep the separator before the attribute only when another attribute follows.
        const QString keep = m.captured(4).isEmpty() && m.captured(1) == QLatin1String(",")
                                 ? QString()
                                 : m.captured(1);
        out.replace(m.capturedStart(), m.capturedLength(), keep);
    }
}

QString LocalTagLine(const QString &line) {
    if (line.left(11).toUpper() == QLatin1String("#EXT-X-KEY:"))
        return RemoveUriAttribute(line);
    if (line.left(8).toUpper() == QLatin1String("#EXTINF:"))
        return line;
    return HasUriAttribute(line) ? QString() : line;
}

void EnsureEndList(QStringList &lines) {
    for (const QString &line : lines) {
        if (line.trimmed().toUpper().startsWith(QLatin1String("#EXT-X-ENDLIST")))
            return;
    }
    lines << QStringLiteral("#EXT-X-ENDLIST");
}

QString KeyFileName(int index) {
    return index == 0 ? QStringLiteral("key.key") : QStringLiteral("key%1.key").arg(index + 1);
}

bool IsMapLine(const QString &line) {
    return line.left(11).toUpper() == QLatin1String("#EXT-X-MAP:") && !GetKeyUri(line).isEmpty();
}

bool IsByteRangeLine(const QString &line) {
    return line.left(17).toUpper() == QLatin1String("#EXT-X-BYTERANGE:");
}

QString MapFileName(int index) {
    return index == 0 ? QStringLiteral("init.mp4") : QStringLiteral("init%1.mp4").arg(index + 1);
}

bool IsKeyLine(const QString &line) {
    if (line.left(11).toUpper() != QLatin1String("#EXT-X-KEY:"))
        return false;
    if (GetKeyUri(line).isEmpty())
        return false;
    static const QRegularExpression methodNone(
        QStringLiteral("[:,]\\s*METHOD\\s*=\\s*NONE\\s*(,|$)"),
        QRegularExpression::CaseInsensitiveOption);
    return !methodNone.match(line).hasMatch();
}

QString FetchableUrl(const QString &url) {
    static const QRegularExpression scheme(QStringLiteral("^(https?|ftps?)://"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (!scheme.match(url).hasMatch())
        return QString();
    for (const QChar c : url) {
        if (c.category() == QChar::Other_Control || c == QChar(0x2028) || c == QChar(0x2029))
            return QString();
    }
    QString out = url;
    out.replace(QLatin1Char(' '), QLatin1String("%20"));
    return out;
}

QString QuoteField(const QString &value) {
    QString out = value;
    out.replace(QLatin1Char('"'), QLatin1String("\"\"\""));
    return out;
}

QStringList RequestHeaderLines(const QString &text) {
    QStringList result;
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    for (const QString &raw : text.trimmed().split(lineBreak)) {
        const QString line = raw.trimmed();
        if (CountColonFields(RemoveBlanks(line)) < 2)
            continue;
        // A control character could end the header early or smuggle another one in.
        const bool clean = std::none_of(line.begin(), line.end(), [](QChar c) {
            return (c.category() == QChar::Other_Control && c != QLatin1Char('\t')) ||
                   c == QChar(0x2028) || c == QChar(0x2029);
        });
        if (clean)
            result << line;
    }
    return result;
}

QStringList Aria2ListOptions(const QString &headers) {
    QStringList lines;
    if (ProxyEnabled && !ProxyString.isEmpty()) {
        // A line break would start another option; without its control characters a bad
        // address fails instead.
        QString proxy = ProxyString;
        proxy.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
        lines << QLatin1String(" all-proxy=") + proxy;
    }
    for (const QString &line : RequestHeaderLines(headers))
        lines << QLatin1String(" header=") + line;
    return lines;
}

QString Aria2CommonOptions() {
    // An answer must never make aria2c fetch more than the address it was given.
    return QStringLiteral(
        " --check-certificate=false --follow-metalink=false --follow-torrent=false"
        " --enable-dht=false ");
}

QString Aria2FetchParamLine(const QString &listFile, const QString &dir) {
    // One connection and no disk cache, so the file grows as the body arrives and its size
    // shows how much came.
    return Aria2CommonOptions() + QLatin1String(" -c -i \"") + QuoteField(listFile) +
           QLatin1String("\" -d \"") + QuoteField(dir) +
           QLatin1String("\" -s 1 --disk-cache=0 --file-allocation=none");
}

QString Aria2SegmentOptions(int jobs) {
    // Measured against the local test server (bench/README.md): a silent connection costs
    // --timeout seconds before aria2c retries it, instead of its default of 60.
    return QStringLiteral(
               " -j %1 --connect-timeout=10 --timeout=10 --retry-wait=0"
               " --file-allocation=none")
        .arg(SegmentConcurrencyFromNumber(jobs));
}

QString Aria2ListParamLine(const QString &listFile, const QString &workDir,
                           const QString &sessionFile, int jobs) {
    return Aria2CommonOptions() + QLatin1String(" -c -i \"") + QuoteField(listFile) +
           QLatin1String("\" -d \"") + QuoteField(workDir) + QLatin1String("\" --save-session=\"") +
           QuoteField(sessionFile) + QLatin1Char('"') + Aria2SegmentOptions(jobs);
}

QString MergeParamLine(const QString &indexFile, const QString &ffmpegParams,
                       const QString &outFile) {
    // Local files and decryption only: the local playlist can reach neither the network nor,
    // since it names only files of the work folder, anything outside it. The key files'
    // extension needs -allowed_extensions.
    return QLatin1String(" -protocol_whitelist file,crypto -allowed_extensions ALL -y -i \"") +
           QuoteField(indexFile) + QLatin1String("\" ") + ffmpegParams + QLatin1String(" \"") +
           QuoteField(outFile) + QLatin1Char('"');
}

QString MergeParamLine(const QString &indexFile, const QString &audioFile,
                       const QString &ffmpegParams, const QString &outFile) {
    // The whitelist and the extensions are options of each input, so both need them. A variant
    // may carry audio of its own as well: only the rendition's is taken.
    const QString input =
        QStringLiteral(" -protocol_whitelist file,crypto -allowed_extensions ALL -i \"%1\"");
    return QLatin1String(" -y") + input.arg(QuoteField(indexFile)) +
           input.arg(QuoteField(audioFile)) + QLatin1String(" -map 0:v? -map 1:a ") + ffmpegParams +
           QLatin1String(" \"") + QuoteField(outFile) + QLatin1Char('"');
}

bool IsM3u8File(const QString &file) {
    if (FileSizeByName(file) < 7)
        return false;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    return in.read(7) == "#EXTM3U";
}

QString BuildHeaderOptions(const QString &text) {
    QString result;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return result;
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    const QStringList lines = trimmed.split(lineBreak);
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (CountColonFields(RemoveBlanks(line)) >= 2)
            result += QLatin1String(" --header=\"") + QuoteField(line) + QLatin1Char('"');
    }
    if (!result.isEmpty())
        result += QLatin1Char(' ');
    return result;
}
