#pragma once
// Runs tests/server/hls_server.py on 127.0.0.1 for one test: a private port, a private request
// log, and a stop by the server's own process id when the test is done.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class QProcess;

// Failing requests and aria2c: a URL answered with 500 is given up for the rest of that aria2c
// run (so failFirst with "500" leaves segments missing until the next run), while a dropped
// connection is retried within the run.
struct HlsServerOptions {
    int latencyMs = 0;
    double failRate = 0;       // with failMode and seed
    QString failMode = "500";  // "500" or "drop"
    int seed = 1;
    QString failPattern;  // empty = server default (\.ts$)
    int failFirst = 0;
    QString failAlways;                        // regex, empty = off
    QString requireHeader;                     // "Name: Value", empty = off
    QList<QPair<QString, QString>> redirects;  // from path -> path on this server or full URL
    QString stallPattern;                      // empty = off
    int stallFirst = 0;                        // 0 = stall every matching request
    QString noContentLength;                   // "", "chunked" or "close" (HTTP/1.0)
    int pauseMidBodyMs = 0;                    // half of each body, a pause, the rest
    double cutRate = 0;  // share of failPattern requests cut after cutAfter bytes
    int cutAfter = 1000;
    int maxSeconds = 300;
    QStringList extraArgs;  // passed to the server as they are
};

class HlsTestServer {
public:
    HlsTestServer();
    ~HlsTestServer();  // stops the server (by its own pid) if running
    HlsTestServer(const HlsTestServer &) = delete;
    HlsTestServer &operator=(const HlsTestServer &) = delete;

    // Serves root; waits up to about 10 s for the server to report its port.
    bool start(const QString &root, const HlsServerOptions &options = {});
    void stop();  // SIGTERM, short wait, SIGKILL
    bool isRunning() const;

    QString baseUrl() const;                 // "http://127.0.0.1:PORT"
    QString url(const QString &path) const;  // baseUrl() + path ("/clear/index.m3u8")
    quint16 port() const { return m_port; }
    qint64 pid() const;
    QString errorString() const { return m_error; }

    // One line per request: "METHOD /path?query STATUS", STATUS being the HTTP status sent,
    // "stall" or "drop". Lines are written before the answer goes out.
    QStringList requestLog() const;
    // Requests whose path (query removed) matches pathRegex; method filters when not empty.
    int countRequests(const QString &pathRegex, const QString &method = QString()) const;

    static QString ScriptPath();  // tests/server/hls_server.py of this source tree

private:
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QTemporaryDir> m_runDir;
    quint16 m_port = 0;
    QString m_error;
};
