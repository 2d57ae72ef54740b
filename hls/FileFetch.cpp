// Fetching one file (declared in M3u8Helpers.h): libcurl first, aria2c as the fall-back, both
// bound by the request's cap, the deadline and the task's stop flag.

#include "hls/M3u8Helpers.h"
#include "hls/UrlFetcher.h"
#include "support/ExternalTools.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>

#include <memory>

namespace {

QString ProxyAddress() {
    return ProxyEnabled ? ProxyString : QString();
}

bool Cancelled(const bool *cancel) {
    return cancel && *cancel;
}

// DownloadRetries attempts, then, for https, the same over http; a fetch that was cancelled,
// ran out of time or met an answer over its cap is not tried again.
UrlFetcher::Result FetchWithRetries(const QString &url, const QString &file,
                                    const UrlFetcher::Options &options) {
    QString address = FetchableUrl(url);
    if (address.isEmpty() || file.isEmpty())
        return UrlFetcher::Result::Failed;
    for (;;) {
        for (int attempt = 0; attempt < DownloadRetries; ++attempt) {
            if (Cancelled(options.cancel))
                return UrlFetcher::Result::Cancelled;
            const UrlFetcher::Result result = UrlFetcher::Fetch(address, file, options);
            if (result != UrlFetcher::Result::Failed)
                return result;
        }
        if (address.left(8).toLower() != QLatin1String("https://"))
            return UrlFetcher::Result::Failed;
        address.remove(4, 1);
    }
}

UrlFetcher::Options FetchOptions(const FetchRequest &request, const QDeadlineTimer &deadline) {
    UrlFetcher::Options options;
    for (const QString &line : RequestHeaderLines(request.headers))
        options.headers << line.toUtf8();
    options.maxBytes = qMax<qint64>(request.maxBytes, 0);
    options.cancel = request.cancel;
    options.deadline = deadline;
    options.proxy = ProxyAddress();
    options.finalUrl = request.finalUrl;
    return options;
}

// One fetch through aria2c into `file`, its request headers and proxy in a private input list
// instead of on the command line (where every local user can read them). The body arrives under a
// temporary name beside `file`; aria2c is ended when the body passes `maxBytes` (a head
// fetch keeps that much), when the deadline passes or on `cancel`. Anything partial goes.
UrlFetcher::Result Aria2Fetch(const QString &url, const QString &file, const QString &headers,
                              qint64 maxBytes, bool headOnly, const bool *cancel,
                              const QDeadlineTimer &deadline) {
    using Result = UrlFetcher::Result;
    const QString address = FetchableUrl(url);
    const QString aria2 = ExternalTools::Instance().Aria2Path();
    if (address.isEmpty() || file.isEmpty() || aria2.isEmpty())
        return Result::Failed;
    if (Cancelled(cancel))
        return Result::Cancelled;
    const QFileInfo target(file);
    const QString dir = target.absolutePath();
    // Created with mode 0600.
    QTemporaryFile list(dir + QLatin1Char('/') + target.fileName() + QLatin1String(".XXXXXX.lst"));
    if (!list.open())
        return Result::Failed;
    const QString part = list.fileName().chopped(4) + QLatin1String(".part");
    QStringList lines{address, QLatin1String(" out=") + QFileInfo(part).fileName()};
    lines << Aria2ListOptions(headers);
    const QByteArray content = lines.join(QLatin1Char('\n')).toUtf8() + '\n';
    if (list.write(content) != content.size() || !list.flush())
        return Result::Failed;
    list.close();

    std::unique_ptr<QProcess> process(RunProcessHandle(
        aria2, Aria2FetchParamLine(list.fileName(), dir), kShowHidden, false, dir));
    if (!process)
        return Result::Failed;
    const qint64 cap = qMax<qint64>(maxBytes, 0);
    Result ended = Result::Done;
    while (process->state() != QProcess::NotRunning) {
        process->waitForFinished(10);
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
        const qint64 size = FileSizeByName(part);
        if (Cancelled(cancel))
            ended = Result::Cancelled;
        else if (deadline.hasExpired())
            ended = Result::TimedOut;
        else if (cap > 0 && !headOnly && size > cap)
            ended = Result::TooLarge;
        const bool headIn = cap > 0 && headOnly && size >= cap;
        if (ended != Result::Done || headIn) {
            process->kill();
            process->waitForFinished(2000);
        }
    }
    const QString control = part + QLatin1String(".aria2");
    const qint64 size = FileSizeByName(part);
    if (ended == Result::Done) {
        if (headOnly && cap > 0 && size >= cap) {
            QFile::resize(part, cap);  // the head is all that was asked for
        } else if (QFileInfo::exists(control) || size < 0) {
            ended = Result::Failed;
        } else if (cap > 0 && size > cap) {
            ended = Result::TooLarge;
        }
    }
    QFile::remove(control);
    if (ended == Result::Done) {
        QFile::remove(file);
        if (QFile::rename(part, file))
            return Result::Done;
        ended = Result::Failed;
    }
    QFile::remove(part);
    return ended;
}

}  // namespace

bool DownloadFile(const QString &url, const QString &file) {
    UrlFetcher::Options options;
    options.proxy = ProxyAddress();
    return FetchWithRetries(url, file, options) == UrlFetcher::Result::Done;
}

bool DownloadFile(const QString &url, const QString &file, const FetchRequest &request) {
    const QDeadlineTimer deadline = request.untimed ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                    : QDeadlineTimer(UrlFetcher::DeadlineMs());
    const UrlFetcher::Result result = FetchWithRetries(url, file, FetchOptions(request, deadline));
    if (result != UrlFetcher::Result::Failed)
        return result == UrlFetcher::Result::Done;
    // aria2c cannot tell where a redirect led: the address asked for stands.
    if (Aria2Fetch(url, file, request.headers, request.maxBytes, false, request.cancel, deadline) !=
        UrlFetcher::Result::Done)
        return false;
    if (request.finalUrl)
        *request.finalUrl = FetchableUrl(url);
    return true;
}

bool DownloadFileHead(const QString &url, const QString &file, qint64 bytes) {
    UrlFetcher::Options options;
    options.maxBytes = qMax<qint64>(bytes, 1);
    options.headOnly = true;
    options.proxy = ProxyAddress();
    return FetchWithRetries(url, file, options) == UrlFetcher::Result::Done;
}

bool DownloadFileHead(const QString &url, const QString &file, const FetchRequest &request) {
    const QDeadlineTimer deadline(UrlFetcher::DeadlineMs());
    UrlFetcher::Options options = FetchOptions(request, deadline);
    options.maxBytes = qMax<qint64>(request.maxBytes, 1);
    options.headOnly = true;
    const UrlFetcher::Result result = FetchWithRetries(url, file, options);
    if (result != UrlFetcher::Result::Failed)
        return result == UrlFetcher::Result::Done;
    return Aria2Fetch(url, file, request.headers, options.maxBytes, true, request.cancel,
                      deadline) == UrlFetcher::Result::Done;
}

bool FetchHeadOnce(const QString &url, const QString &file, const FetchRequest &request) {
    const QString address = FetchableUrl(url);
    if (address.isEmpty() || file.isEmpty())
        return false;
    UrlFetcher::Options options = FetchOptions(request, QDeadlineTimer(UrlFetcher::DeadlineMs()));
    options.maxBytes = qMax<qint64>(request.maxBytes, 1);
    options.headOnly = true;
    return UrlFetcher::Fetch(address, file, options) == UrlFetcher::Result::Done;
}

bool Aria2DownloadFile(const QString &url, const QString &file, const QString &headers) {
    FetchRequest request;
    request.headers = headers;
    request.maxBytes = PlaylistMaxBytes;
    return Aria2DownloadFile(url, file, request);
}

bool Aria2DownloadFile(const QString &url, const QString &file, const FetchRequest &request) {
    if (FetchableUrl(url).isEmpty() || file.isEmpty())
        return false;
    if (QFileInfo::exists(file))
        QFile::remove(file);
    const QDeadlineTimer deadline(UrlFetcher::DeadlineMs());
    if (Aria2Fetch(url, file, request.headers, request.maxBytes, false, request.cancel, deadline) !=
        UrlFetcher::Result::Done)
        return false;
    if (request.finalUrl)
        *request.finalUrl = FetchableUrl(url);
    return true;
}
