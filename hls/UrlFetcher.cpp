#include "hls/UrlFetcher.h"

#include <curl/curl.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QSaveFile>

namespace {

long g_connectTimeout = 20;
long g_lowSpeedTimeout = 30;
qint64 g_deadlineMs = 60000;

constexpr const char kAllowedProtocols[] = "http,https,ftp,ftps";

void InitCurlOnce() {
    static const bool initialised = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    Q_UNUSED(initialised);
}

struct Sink {
    QSaveFile *file = nullptr;
    qint64 limit = 0;  // 0: the whole body
    bool headOnly = false;
    qint64 written = 0;
    bool enough = false;    // the head is in
    bool tooLarge = false;  // the answer went past the cap
};

size_t WriteToFile(char *data, size_t size, size_t count, void *userData) {
    auto *sink = static_cast<Sink *>(userData);
    qint64 bytes = qint64(size * count);
    if (sink->limit > 0 && sink->written + bytes > sink->limit) {
        if (!sink->headOnly) {
            sink->tooLarge = true;
            return 0;  // a short count makes libcurl fail the transfer
        }
        bytes = sink->limit - sink->written;
    }
    if (sink->file->write(data, bytes) != bytes)
        return 0;
    sink->written += bytes;
    if (sink->headOnly && sink->written >= sink->limit) {
        // A server that ignores the range would send the whole file: cut it here.
        sink->enough = true;
        return 0;
    }
    return size_t(bytes);
}

struct HeaderList {
    curl_slist *list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
};

struct EasyHandle {
    CURL *handle = curl_easy_init();
    ~EasyHandle() { curl_easy_cleanup(handle); }
};

struct MultiHandle {
    CURLM *handle = curl_multi_init();
    ~MultiHandle() { curl_multi_cleanup(handle); }
};

}  // namespace

void UrlFetcher::SetTimeouts(long connectSeconds, long lowSpeedSeconds) {
    g_connectTimeout = connectSeconds;
    g_lowSpeedTimeout = lowSpeedSeconds;
}

long UrlFetcher::ConnectTimeout() {
    return g_connectTimeout;
}

long UrlFetcher::LowSpeedTimeout() {
    return g_lowSpeedTimeout;
}

void UrlFetcher::SetDeadlineMs(qint64 ms) {
    g_deadlineMs = ms;
}

qint64 UrlFetcher::DeadlineMs() {
    return g_deadlineMs;
}

bool UrlFetcher::Fetch(const QString &url, const QString &file, qint64 maxBytes) {
    Options options;
    options.maxBytes = qMax<qint64>(maxBytes, 0);
    options.headOnly = options.maxBytes > 0;
    return Fetch(url, file, options) == Result::Done;
}

namespace {

QString g_lastError;
std::function<void(const QString &)> g_log;

// The reason phrases a server sends with the statuses users meet; others go by number.
QString StatusPhrase(long status) {
    switch (status) {
        case 400:
            return QStringLiteral("Bad Request");
        case 401:
            return QStringLiteral("Unauthorized");
        case 403:
            return QStringLiteral("Forbidden");
        case 404:
            return QStringLiteral("Not Found");
        case 405:
            return QStringLiteral("Method Not Allowed");
        case 410:
            return QStringLiteral("Gone");
        case 416:
            return QStringLiteral("Range Not Satisfiable");
        case 429:
            return QStringLiteral("Too Many Requests");
        case 500:
            return QStringLiteral("Internal Server Error");
        case 502:
            return QStringLiteral("Bad Gateway");
        case 503:
            return QStringLiteral("Service Unavailable");
        case 504:
            return QStringLiteral("Gateway Timeout");
        default:
            return QString();
    }
}

}  // namespace

void UrlFetcher::SetLog(std::function<void(const QString &line)> log) {
    g_log = std::move(log);
}

QString UrlFetcher::LastError() {
    return g_lastError;
}

QString UrlFetcher::HttpReason(long status, const QString &url) {
    QString reason = QStringLiteral("HTTP %1").arg(status);
    const QString phrase = StatusPhrase(status);
    if (!phrase.isEmpty())
        reason += QLatin1Char(' ') + phrase;
    if (status == 401 || status == 403)
        reason += QStringLiteral(", 可能需要请求头 (Referer / Cookie)");
    return reason + QStringLiteral(" (%1)").arg(url);
}

UrlFetcher::Result UrlFetcher::Fetch(const QString &url, const QString &file,
                                     const Options &options) {
    if (g_log) {
        // Header names only: their values are often cookies and tokens.
        QString line = QStringLiteral("GET %1").arg(url);
        for (const QByteArray &header : options.headers)
            line += QStringLiteral(" [%1: …]").arg(QString::fromUtf8(header.split(':').first()));
        g_log(line);
    }
    const Result result = Transfer(url, file, options);
    if (result == Result::Done)
        g_lastError.clear();
    return result;
}

UrlFetcher::Result UrlFetcher::Transfer(const QString &url, const QString &file,
                                        const Options &options) {
    InitCurlOnce();
    g_lastError = QStringLiteral("无法开始下载 (%1)").arg(url);
    EasyHandle easy;
    MultiHandle multi;
    if (!easy.handle || !multi.handle)
        return Result::Failed;

    QSaveFile out(QFileInfo(file).absoluteFilePath());
    if (!out.open(QIODevice::WriteOnly))
        return Result::Failed;

    const QByteArray address = url.toUtf8();
    CURL *e = easy.handle;
    curl_easy_setopt(e, CURLOPT_URL, address.constData());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, g_connectTimeout);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, g_lowSpeedTimeout);
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Korvi/" KORVI_VERSION);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &WriteToFile);

    HeaderList headers;
    for (const QByteArray &line : options.headers)
        headers.list = curl_slist_append(headers.list, line.constData());
    if (headers.list)
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.list);

    const QByteArray proxy = options.proxy.toUtf8();
    if (!proxy.isEmpty()) {
        // Credentials come from the address itself. The setting is the user's choice, so the
        // environment's no_proxy does not overrule it.
        curl_easy_setopt(e, CURLOPT_PROXY, proxy.constData());
        curl_easy_setopt(e, CURLOPT_NOPROXY, "");
    }

    Sink sink;
    sink.file = &out;
    sink.limit = qMax<qint64>(options.maxBytes, 0);
    sink.headOnly = options.headOnly && sink.limit > 0;
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &sink);
    const QByteArray range = "0-" + QByteArray::number(sink.limit - 1);
    if (sink.headOnly)
        curl_easy_setopt(e, CURLOPT_RANGE, range.constData());

    curl_multi_add_handle(multi.handle, e);
    Result ended = Result::Done;
    int running = 1;
    while (running) {
        if (curl_multi_perform(multi.handle, &running) != CURLM_OK)
            break;
        if (!running)
            break;
        // Short slices keep timers and clicks of the rest of the program flowing.
        curl_multi_poll(multi.handle, nullptr, 0, 10, nullptr);
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (options.cancel && *options.cancel) {
            ended = Result::Cancelled;
            break;
        }
        if (options.deadline.hasExpired()) {
            ended = Result::TimedOut;
            break;
        }
    }

    CURLcode result = CURLE_FAILED_INIT;
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(multi.handle, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == e)
            result = message->data.result;
    }
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    const char *scheme = nullptr;
    curl_easy_getinfo(e, CURLINFO_SCHEME, &scheme);
    const bool isHttp = scheme && QByteArray(scheme).toLower().startsWith("http");
    const char *effective = nullptr;
    curl_easy_getinfo(e, CURLINFO_EFFECTIVE_URL, &effective);
    const QString finalUrl = effective ? QString::fromUtf8(effective) : url;
    curl_multi_remove_handle(multi.handle, e);

    if (sink.enough && result == CURLE_WRITE_ERROR)
        result = CURLE_OK;
    if (ended == Result::Done && sink.tooLarge)
        ended = Result::TooLarge;
    else if (ended == Result::Done && (result != CURLE_OK || (isHttp && status >= 400)))
        ended = Result::Failed;
    if (ended == Result::TooLarge)
        g_lastError = QStringLiteral("答复超过 %1 字节 (%2)").arg(sink.limit).arg(url);
    else if (ended == Result::TimedOut)
        g_lastError = QStringLiteral("超时 (%1)").arg(url);
    else if (ended == Result::Cancelled)
        g_lastError = QStringLiteral("已停止 (%1)").arg(url);
    else if (ended == Result::Failed && isHttp && status >= 400)
        g_lastError = HttpReason(status, url);
    else if (ended == Result::Failed)
        g_lastError =
            QStringLiteral("%1 (%2)").arg(QString::fromUtf8(curl_easy_strerror(result)), url);
    if (ended != Result::Done || !out.commit()) {
        out.cancelWriting();
        return ended == Result::Done ? Result::Failed : ended;
    }
    if (options.finalUrl)
        *options.finalUrl = finalUrl;
    return Result::Done;
}
