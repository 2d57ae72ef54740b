#include "hls/M3u8Helpers.h"

#include "support/FileUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

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
    // An address with a scheme of its own stays as written; a scheme that may not be fetched
    // is refused where it would be fetched.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (scheme.match(line).hasMatch())
        return line;
    const QUrl base(playlistUrl);
    if (!base.isValid() || base.isRelative())
        return line;
    // Dot segments go as browsers and ffmpeg remove them; a fragment is never sent.
    return base.resolved(QUrl(line)).adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
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

QString KeyFileName(int index) {
    return index == 0 ? QStringLiteral("key.key") : QStringLiteral("key%1.key").arg(index + 1);
}

bool IsMapLine(const QString &line) {
    return line.left(11).toUpper() == QLatin1String("#EXT-X-MAP:") && !GetKeyUri(line).isEmpty();
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
    // A byte-order mark (a playlist saved by a Windows editor) is no part of the header.
    QByteArray head = in.read(10);
    if (head.startsWith("\xEF\xBB\xBF"))
        head.remove(0, 3);
    return head.startsWith("#EXTM3U");
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
