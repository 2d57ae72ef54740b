#pragma once
// A request copied from a browser's developer tools ("Copy as cURL" in its POSIX or Windows
// form, "Copy as fetch") read into an address and the headers a download needs. The text is
// only parsed; no shell ever sees it.

#include <QString>
#include <QStringList>

struct BrowserRequest {
    QString url;
    QStringList headers;  // "Key: Value", in the order the request gave them
};

enum class RequestParse {
    NotARequest,  // an address or any other text: leave it as it is
    Parsed,
    Refused,  // looks like a request but cannot become a download; `problem` says why
};

// True when the text starts as a cURL command or a fetch call does.
bool LooksLikeBrowserRequest(const QString &text);

// The parse of one request. Headers describing the browser's own connection (Accept-Encoding,
// Range, Content-Length, Host, Connection, If-*) are dropped; -b, -A and -e become Cookie,
// User-Agent and Referer.
RequestParse ParseBrowserRequest(const QString &text, BrowserRequest &request, QString &problem);

// The request's headers as the header dialog's OK leaves a block: sorted, CR LF after each.
QString RequestHeadersBlock(const BrowserRequest &request);

// The clipboard dialog's text in entries: a line that starts a browser request, alone or after a
// name and the delimiter, opens an entry that runs to the next blank line; any other line is an
// entry of its own.
QStringList ClipboardEntries(const QString &text, QChar delimiter);

// The name before the delimiter of an entry "name$curl …", cut off `entry`; empty when the
// entry starts with the request itself.
QString TakeRequestName(QString &entry, QChar delimiter);
