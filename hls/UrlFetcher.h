#pragma once
// One URL into one file with libcurl, on the calling thread, letting pending events run while
// the transfer is under way.

#include <QString>

class UrlFetcher {
public:
    // Follows redirects within http, https, ftp and ftps; verifies TLS; an HTTP status of 400
    // or more fails. The body goes to a temporary file that replaces `file` only on success.
    // The caller has checked the address with FetchableUrl.
    // With `maxBytes` above 0 only the head is fetched: a range request, and the transfer is
    // ended once that many bytes have arrived.
    static bool Fetch(const QString &url, const QString &file, qint64 maxBytes = 0);

    // Seconds allowed for connecting, and for a transfer that moves less than one byte per
    // second; tests shorten them.
    static void SetTimeouts(long connectSeconds, long lowSpeedSeconds);
    static long ConnectTimeout();
    static long LowSpeedTimeout();
};
