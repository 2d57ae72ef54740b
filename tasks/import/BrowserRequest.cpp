#include "tasks/import/BrowserRequest.h"

#include "tasks/headers/HeadersBlock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

namespace {

// A pasted request is a few kilobytes; a cookie jar's worth is the most a browser gives.
constexpr int kMaxRequestChars = 256 * 1024;

bool IsBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r');
}

int HexValue(QChar c) {
    const int d = QStringLiteral("0123456789abcdef").indexOf(c.toLower());
    return d;
}

// The body of $'…' from `i` (just past the opening quote) to its closing quote.
bool ReadAnsiC(const QString &text, int &i, QString &word) {
    const int n = int(text.size());
    while (i < n) {
        const QChar c = text.at(i++);
        if (c == QLatin1Char('\''))
            return true;
        if (c != QLatin1Char('\\') || i >= n) {
            word += c;
            continue;
        }
        const QChar e = text.at(i++);
        const auto readHex = [&](int most) {
            uint value = 0;
            int digits = 0;
            while (digits < most && i < n && HexValue(text.at(i)) >= 0) {
                value = value * 16 + uint(HexValue(text.at(i++)));
                ++digits;
            }
            return digits ? value : uint(e.unicode());
        };
        switch (e.unicode()) {
            case 'n':
                word += QLatin1Char('\n');
                break;
            case 'r':
                word += QLatin1Char('\r');
                break;
            case 't':
                word += QLatin1Char('\t');
                break;
            case 'a':
                word += QChar(7);
                break;
            case 'b':
                word += QChar(8);
                break;
            case 'e':
            case 'E':
                word += QChar(27);
                break;
            case 'f':
                word += QChar(12);
                break;
            case 'v':
                word += QChar(11);
                break;
            case 'x':
                word += QChar(readHex(2));
                break;
            case 'u':
                word += QChar(readHex(4));
                break;
            case 'U': {
                const char32_t code = readHex(8);
                word += QString::fromUcs4(&code, 1);
                break;
            }
            default:
                if (e >= QLatin1Char('0') && e <= QLatin1Char('7')) {
                    uint value = uint(e.unicode() - '0');
                    for (int k = 0; k < 2 && i < n && text.at(i) >= QLatin1Char('0') &&
                                    text.at(i) <= QLatin1Char('7');
                         ++k)
                        value = value * 8 + uint(text.at(i++).unicode() - '0');
                    word += QChar(value);
                } else {
                    word += e;  // \\ \' \" \? and anything unknown stand for themselves
                }
        }
    }
    return false;
}

// Words of a POSIX shell command line, as sh would split them, without expanding anything.
bool SplitPosix(const QString &text, QStringList &words, QString &problem) {
    const int n = int(text.size());
    QString word;
    bool inWord = false;
    int i = 0;
    const auto unpaired = [&problem] {
        problem = QStringLiteral("引号不成对");
        return false;
    };
    while (i < n) {
        const QChar c = text.at(i);
        if (IsBlank(c)) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
            ++i;
        } else if (c == QLatin1Char('\\')) {
            i += 1;
            if (i < n && text.at(i) == QLatin1Char('\r'))
                ++i;
            if (i < n && text.at(i) == QLatin1Char('\n')) {
                ++i;  // a line continuation
                continue;
            }
            if (i < n) {
                word += text.at(i++);
                inWord = true;
            }
        } else if (c == QLatin1Char('\'')) {
            const int end = int(text.indexOf(QLatin1Char('\''), i + 1));
            if (end < 0)
                return unpaired();
            word += text.mid(i + 1, end - i - 1);
            inWord = true;
            i = end + 1;
        } else if (c == QLatin1Char('$') && i + 1 < n && text.at(i + 1) == QLatin1Char('\'')) {
            i += 2;
            if (!ReadAnsiC(text, i, word))
                return unpaired();
            inWord = true;
        } else if (c == QLatin1Char('"')) {
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar d = text.at(i++);
                if (d == QLatin1Char('"')) {
                    closed = true;
                    break;
                }
                if (d == QLatin1Char('\\') && i < n &&
                    QStringLiteral("$`\"\\\n").contains(text.at(i))) {
                    if (text.at(i) != QLatin1Char('\n'))
                        word += text.at(i);
                    ++i;
                } else if (d == QLatin1Char('$') || d == QLatin1Char('`')) {
                    problem = QStringLiteral("请求中含有 shell 替换 ($ 或 `), 无法按原样读取");
                    return false;
                } else {
                    word += d;
                }
            }
            if (!closed)
                return unpaired();
            inWord = true;
        } else if (QStringLiteral(";|&<>`$(){}").contains(c)) {
            problem = QStringLiteral("请求中含有 shell 操作符 \"%1\", 不是单个请求").arg(c);
            return false;
        } else {
            word += c;
            inWord = true;
            ++i;
        }
    }
    if (inWord)
        words << word;
    return true;
}

// Words of a cmd.exe command line: first cmd's "^" escapes and continuations, then the
// C runtime's argument split (double quotes group, \" is a quote).
QStringList SplitWindows(const QString &text) {
    QString line;
    bool cmdQuoted = false;
    const int n = int(text.size());
    for (int i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('"'))
            cmdQuoted = !cmdQuoted;
        if (c != QLatin1Char('^') || cmdQuoted) {
            line += c;
            continue;
        }
        if (i + 1 >= n)
            break;
        if (text.at(i + 1) == QLatin1Char('\r'))
            ++i;
        if (i + 1 < n && text.at(i + 1) == QLatin1Char('\n')) {
            ++i;  // continuation: the line break goes, the next line joins this one
            continue;
        }
        line += text.at(++i);
    }
    QStringList words;
    const int m = int(line.size());
    int i = 0;
    while (i < m) {
        while (i < m && IsBlank(line.at(i)))
            ++i;
        if (i >= m)
            break;
        QString word;
        bool quoted = false;
        while (i < m && (quoted || !IsBlank(line.at(i)))) {
            const QChar c = line.at(i);
            if (c == QLatin1Char('\\')) {
                int k = 0;
                while (i < m && line.at(i) == QLatin1Char('\\')) {
                    ++k;
                    ++i;
                }
                if (i < m && line.at(i) == QLatin1Char('"')) {
                    word += QString(k / 2, QLatin1Char('\\'));
                    if (k % 2) {
                        word += QLatin1Char('"');
                        ++i;
                    }
                } else {
                    word += QString(k, QLatin1Char('\\'));
                }
            } else if (c == QLatin1Char('"')) {
                if (quoted && i + 1 < m && line.at(i + 1) == QLatin1Char('"')) {
                    word += QLatin1Char('"');
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
            } else {
                word += c;
                ++i;
            }
        }
        words << word;
    }
    return words;
}

bool IsWindowsForm(const QString &text) {
    static const QRegularExpression caretBreak(QStringLiteral("\\^[ \\t]*\\r?\\n"));
    return text.contains(QLatin1String("^\"")) || text.contains(caretBreak);
}

bool HasControl(const QString &text) {
    for (const QChar c : text) {
        if ((c.unicode() < 0x20 && c != QLatin1Char('\t')) || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

bool IsToken(const QString &name) {
    static const QRegularExpression token(QStringLiteral("^[!#$%&'*+.^_`|~0-9A-Za-z-]+$"));
    return token.match(name).hasMatch();
}

bool IsDropped(const QString &name) {
    static const QStringList dropped{QStringLiteral("accept-encoding"), QStringLiteral("range"),
                                     QStringLiteral("content-length"), QStringLiteral("host"),
                                     QStringLiteral("connection")};
    const QString lower = name.toLower();
    return dropped.contains(lower) || lower.startsWith(QLatin1String("if-"));
}

// Adds one header unless the browser's connection owns it; false with a reason when it could
// not travel as one header line.
bool AddHeader(BrowserRequest &request, const QString &name, const QString &value,
               QString &problem) {
    const QString key = name.trimmed();
    if (!IsToken(key) || HasControl(value)) {
        problem = QStringLiteral("请求头无效: %1").arg(key.left(80));
        return false;
    }
    if (!IsDropped(key) && !value.trimmed().isEmpty())
        request.headers << key + QStringLiteral(": ") + value.trimmed();
    return true;
}

bool HasHeader(const BrowserRequest &request, const QString &name) {
    for (const QString &line : request.headers) {
        if (line.section(QLatin1Char(':'), 0, 0).compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool CheckUrl(const QString &url, QString &problem) {
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (url.isEmpty() || HasControl(url) || url.contains(QLatin1Char(' ')) || !parsed.isValid() ||
        parsed.host().isEmpty() || !QStringList{"http", "https", "ftp", "ftps"}.contains(scheme)) {
        problem = QStringLiteral("请求中没有可下载的 http/https/ftp 地址");
        return false;
    }
    return true;
}

RequestParse Refuse(QString &problem, const QString &reason) {
    problem = reason;
    return RequestParse::Refused;
}

RequestParse ParseCurl(const QString &text, BrowserRequest &request, QString &problem) {
    QStringList words;
    if (IsWindowsForm(text))
        words = SplitWindows(text);
    else if (!SplitPosix(text, words, problem))
        return RequestParse::Refused;
    static const QStringList ignored{
        "--compressed",  "-s",        "--silent",   "-S",
        "--show-error",  "-L",        "--location", "-g",
        "--globoff",     "-i",        "--include",  "-v",
        "--verbose",     "--http1.1", "--http2",    "--http2-prior-knowledge",
        "--http3",       "-k",        "--insecure", "-#",
        "--progress-bar"};
    static const QStringList bodies{
        "-d",     "--data", "--data-raw", "--data-binary", "--data-ascii", "--data-urlencode", "-F",
        "--form", "--json", "-T",         "--upload-file"};
    static const QStringList withValue{"-H", "--header",  "-b", "--cookie",  "-A",   "--user-agent",
                                       "-e", "--referer", "-X", "--request", "--url"};
    for (int i = 1; i < words.size(); ++i) {
        QString option = words.at(i);
        QString value;
        bool hasValue = false;
        // Short options may carry their value joined: -H'Key: value', -XGET.
        if (option.size() > 2 && option.startsWith(QLatin1Char('-')) &&
            option.at(1) != QLatin1Char('-') && withValue.contains(option.left(2))) {
            value = option.mid(2);
            option = option.left(2);
            hasValue = true;
        }
        if (ignored.contains(option))
            continue;
        if (bodies.contains(option) || option.startsWith(QLatin1String("--data")))
            return Refuse(problem,
                          QStringLiteral("请求带有数据 (%1), 只能下载 GET 请求").arg(option));
        if (withValue.contains(option)) {
            if (!hasValue) {
                if (i + 1 >= words.size())
                    return Refuse(problem, QStringLiteral("%1 缺少参数").arg(option));
                value = words.at(++i);
            }
        } else if (option.startsWith(QLatin1Char('-')) && option.size() > 1) {
            return Refuse(problem, QStringLiteral("不支持的 curl 选项: %1").arg(option.left(40)));
        } else {
            if (!request.url.isEmpty())
                return Refuse(problem, QStringLiteral("请求中有多个地址"));
            request.url = option;
            continue;
        }
        bool ok = true;
        if (option == QLatin1String("-H") || option == QLatin1String("--header")) {
            const int colon = int(value.indexOf(QLatin1Char(':')));
            // "Key;" sends an empty header and "Key:" removes one of curl's own: neither helps.
            if (colon < 0 && value.trimmed().endsWith(QLatin1Char(';')))
                continue;
            if (colon <= 0)
                return Refuse(problem, QStringLiteral("请求头无效: %1").arg(value.left(80)));
            ok = AddHeader(request, value.left(colon), value.mid(colon + 1), problem);
        } else if (option == QLatin1String("-b") || option == QLatin1String("--cookie")) {
            if (!value.contains(QLatin1Char('=')))
                return Refuse(problem, QStringLiteral("-b 只能是 Cookie 内容, 不能是文件"));
            ok = AddHeader(request, QStringLiteral("Cookie"), value, problem);
        } else if (option == QLatin1String("-A") || option == QLatin1String("--user-agent")) {
            ok = AddHeader(request, QStringLiteral("User-Agent"), value, problem);
        } else if (option == QLatin1String("-e") || option == QLatin1String("--referer")) {
            QString referer = value;
            if (referer.endsWith(QLatin1String(";auto")))
                referer.chop(5);
            if (!referer.isEmpty())
                ok = AddHeader(request, QStringLiteral("Referer"), referer, problem);
        } else if (option == QLatin1String("-X") || option == QLatin1String("--request")) {
            if (value.compare(QLatin1String("GET"), Qt::CaseInsensitive) != 0)
                return Refuse(
                    problem,
                    QStringLiteral("请求方法是 %1, 只能下载 GET 请求").arg(value.left(20)));
        } else if (option == QLatin1String("--url")) {
            if (!request.url.isEmpty())
                return Refuse(problem, QStringLiteral("请求中有多个地址"));
            request.url = value;
        }
        if (!ok)
            return RequestParse::Refused;
    }
    return CheckUrl(request.url, problem) ? RequestParse::Parsed : RequestParse::Refused;
}

RequestParse ParseFetch(const QString &text, BrowserRequest &request, QString &problem) {
    const int open = int(text.indexOf(QLatin1Char('(')));
    const int close = int(text.lastIndexOf(QLatin1Char(')')));
    const QString unreadable = QStringLiteral("无法解析 fetch 请求");
    if (open < 0 || close <= open)
        return Refuse(problem, unreadable);
    // What the browsers write between the parentheses is a JSON string and a JSON object.
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(
        QStringLiteral("[%1]").arg(text.mid(open + 1, close - open - 1)).toUtf8(), &error);
    const QJsonArray arguments = document.array();
    if (error.error != QJsonParseError::NoError || arguments.isEmpty() || arguments.size() > 2 ||
        !arguments.at(0).isString() || (arguments.size() == 2 && !arguments.at(1).isObject()))
        return Refuse(problem, unreadable);
    request.url = arguments.at(0).toString();
    const QJsonObject init = arguments.at(1).toObject();
    const QString method = init.value(QLatin1String("method")).toString(QStringLiteral("GET"));
    if (method.compare(QLatin1String("GET"), Qt::CaseInsensitive) != 0)
        return Refuse(problem,
                      QStringLiteral("请求方法是 %1, 只能下载 GET 请求").arg(method.left(20)));
    const QJsonValue body = init.value(QLatin1String("body"));
    if (!body.isUndefined() && !body.isNull())
        return Refuse(problem, QStringLiteral("请求带有数据 (body), 只能下载 GET 请求"));
    const bool omitCookies =
        init.value(QLatin1String("credentials")).toString() == QLatin1String("omit");
    const QJsonObject headers = init.value(QLatin1String("headers")).toObject();
    for (auto it = headers.begin(); it != headers.end(); ++it) {
        if (!it.value().isString())
            return Refuse(problem, QStringLiteral("请求头无效: %1").arg(it.key().left(80)));
        // A browser told to omit credentials sends no cookie, whatever the headers say.
        if (omitCookies && it.key().compare(QLatin1String("cookie"), Qt::CaseInsensitive) == 0)
            continue;
        if (!AddHeader(request, it.key(), it.value().toString(), problem))
            return RequestParse::Refused;
    }
    const QString referrer = init.value(QLatin1String("referrer")).toString();
    if (!referrer.isEmpty() && !HasHeader(request, QStringLiteral("Referer")) &&
        !AddHeader(request, QStringLiteral("Referer"), referrer, problem))
        return RequestParse::Refused;
    return CheckUrl(request.url, problem) ? RequestParse::Parsed : RequestParse::Refused;
}

bool IsCurl(const QString &trimmed) {
    static const QRegularExpression curl(QStringLiteral("^curl(\\.exe)?(\\s|\\^|\\\\|$)"),
                                         QRegularExpression::CaseInsensitiveOption);
    return curl.match(trimmed).hasMatch();
}

bool IsFetch(const QString &trimmed) {
    static const QRegularExpression fetch(QStringLiteral("^(await\\s+)?fetch\\s*\\("));
    return fetch.match(trimmed).hasMatch();
}

}  // namespace

bool LooksLikeBrowserRequest(const QString &text) {
    const QString trimmed = text.trimmed();
    return IsCurl(trimmed) || IsFetch(trimmed);
}

RequestParse ParseBrowserRequest(const QString &text, BrowserRequest &request, QString &problem) {
    request = BrowserRequest();
    problem.clear();
    const QString trimmed = text.trimmed();
    RequestParse result = RequestParse::NotARequest;
    if (IsCurl(trimmed) || IsFetch(trimmed)) {
        if (trimmed.size() > kMaxRequestChars)
            result = Refuse(problem, QStringLiteral("请求文本过长"));
        else
            result = IsCurl(trimmed) ? ParseCurl(trimmed, request, problem)
                                     : ParseFetch(trimmed, request, problem);
    }
    if (result != RequestParse::Parsed)
        request = BrowserRequest();
    return result;
}

QString RequestHeadersBlock(const BrowserRequest &request) {
    QString block;
    NormaliseHeaders(request.headers.join(QLatin1Char('\n')), block);
    return block;
}

QString TakeRequestName(QString &entry, QChar delimiter) {
    if (LooksLikeBrowserRequest(entry))
        return QString();
    const int cut = int(entry.indexOf(delimiter));
    const int lineEnd = int(entry.indexOf(QLatin1Char('\n')));
    if (cut < 0 || (lineEnd >= 0 && cut > lineEnd) || !LooksLikeBrowserRequest(entry.mid(cut + 1)))
        return QString();
    const QString name = entry.left(cut).trimmed();
    entry = entry.mid(cut + 1);
    return name;
}

QStringList ClipboardEntries(const QString &text, QChar delimiter) {
    QStringList entries;
    bool inRequest = false;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (inRequest && !line.trimmed().isEmpty()) {
            entries.last() += QLatin1Char('\n') + line;
            continue;
        }
        QString probe = line;
        TakeRequestName(probe, delimiter);
        inRequest = LooksLikeBrowserRequest(probe);
        entries << line;
    }
    return entries;
}
