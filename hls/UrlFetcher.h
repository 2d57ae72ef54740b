#pragma once
// One URL into one file with libcurl, on the calling thread, letting pending events run while
// the transfer is under way.

#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QString>

#include <functional>

class UrlFetcher {
public:
    enum class Result { Done, Failed, TooLarge, Cancelled, TimedOut };

    struct Options {
        QByteArrayList headers;  // "Key: Value" lines, sent with every request
        // With headOnly, the first maxBytes bytes only: a range request, and the transfer is
        // cut there. Otherwise an answer longer than maxBytes fails (TooLarge). 0: no cap.
        qint64 maxBytes = 0;
        bool headOnly = false;
        const bool *cancel = nullptr;  // checked between slices; true ends the fetch
        QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever);
        QString proxy;                // empty: libcurl's own proxy variables
        QString *finalUrl = nullptr;  // the address the answer came from, redirects followed
    };

    // Follows redirects within http, https, ftp and ftps; verifies TLS; an HTTP status of 400
    // or more fails. The body goes to a temporary file that replaces `file` only on success.
    // The caller has checked the address with FetchableUrl.
    static Result Fetch(const QString &url, const QString &file, const Options &options);
    // With `maxBytes` above 0 only the head is fetched.
    static bool Fetch(const QString &url, const QString &file, qint64 maxBytes = 0);

    // Why the last fetch that failed did: the HTTP status and its phrase, or libcurl's error,
    // and the address; empty after a fetch that succeeded.
    static QString LastError();
    // Receives one line per fetch (korvi-get --verbose); header values are never in it.
    static void SetLog(std::function<void(const QString &line)> log);
    // "HTTP 403 Forbidden (address)", with a hint where request headers may be missing.
    static QString HttpReason(long status, const QString &url);

    // Seconds allowed for connecting, and for a transfer that moves less than one byte per
    // second; tests shorten them.
    static void SetTimeouts(long connectSeconds, long lowSpeedSeconds);
    static long ConnectTimeout();
    static long LowSpeedTimeout();
    // Milliseconds one fetch of a playlist, a key or a probe may take in all, retries and the
    // aria2c fall-back included: a server that trickles a byte now and then never trips the
    // low-speed limit. Tests shorten it.
    static void SetDeadlineMs(qint64 ms);
    static qint64 DeadlineMs();

private:
    static Result Transfer(const QString &url, const QString &file, const Options &options);
};
