#include "hls/M3u8Helpers.h"

#include "hls/UrlFetcher.h"
#include "support/ExternalTools.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <memory>

bool ProxyEnabled = false;
QString ProxyString;

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

bool DownloadFile(const QString &url, const QString &file) {
    QString address = FetchableUrl(url);
    if (address.isEmpty() || file.isEmpty())
        return false;
    for (;;) {
        for (int attempt = 0; attempt < DownloadRetries; ++attempt) {
            if (UrlFetcher::Fetch(address, file))
                return true;
        }
        if (address.left(8).toLower() != QLatin1String("https://"))
            return false;
        address.remove(4, 1);
    }
}

QString Aria2CommonOptions(const QString &headers) {
    QString line;
    if (ProxyEnabled && !ProxyString.isEmpty())
        line += QLatin1String(" --all-proxy=\"") + QuoteField(ProxyString) + QLatin1String("\" ");
    line += QLatin1String(" --check-certificate=false ");
    if (!headers.isEmpty())
        line += BuildHeaderOptions(headers);
    return line;
}

QString Aria2FetchParamLine(const QString &url, const QString &dir, const QString &name,
                            const QString &headers) {
    return Aria2CommonOptions(headers) + QLatin1String(" -c \"") + QuoteField(url) +
           QLatin1String("\" -d \"") + QuoteField(dir) + QLatin1String("\" -o \"") +
           QuoteField(name) + QLatin1Char('"');
}

QString Aria2ListParamLine(const QString &listFile, const QString &workDir,
                           const QString &headers) {
    return Aria2CommonOptions(headers) + QLatin1String(" -c -i \"") + QuoteField(listFile) +
           QLatin1String("\" -d \"") + QuoteField(workDir) + QLatin1Char('"');
}

QString MergeParamLine(const QString &indexFile, const QString &ffmpegParams,
                       const QString &outFile) {
    return QLatin1String(" -allowed_extensions ALL -y -i \"") + QuoteField(indexFile) +
           QLatin1String("\" ") + ffmpegParams + QLatin1String(" \"") + QuoteField(outFile) +
           QLatin1Char('"');
}

bool Aria2DownloadFile(const QString &url, const QString &file, const QString &headers) {
    const QString address = FetchableUrl(url);
    if (address.isEmpty() || file.isEmpty())
        return false;
    if (QFileInfo::exists(file))
        QFile::remove(file);
    const QFileInfo target(file);
    const QString dir = target.absolutePath();
    const QString aria2 = ExternalTools::Instance().Aria2Path();
    if (aria2.isEmpty())
        return false;
    std::unique_ptr<QProcess> process(
        RunProcessHandle(aria2, Aria2FetchParamLine(address, dir, target.fileName(), headers),
                         kShowHidden, true, dir));
    if (!process)
        return false;
    return !QFileInfo::exists(file + QLatin1String(".aria2")) && QFileInfo::exists(file);
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
