#include "HlsTestServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

namespace {

QString PythonProgram() {
    // The python3 on PATH may be another interpreter; the server needs only the standard
    // library, but Debian's is the one the machines are set up with.
    if (QFile::exists(QStringLiteral("/usr/bin/python3")))
        return QStringLiteral("/usr/bin/python3");
    QString found = QStandardPaths::findExecutable(QStringLiteral("python3"));
    return found.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("python")) : found;
}

QStringList OptionArgs(const HlsServerOptions &o) {
    QStringList a;
    if (o.latencyMs > 0)
        a << "--latency-ms" << QString::number(o.latencyMs);
    if (o.failRate > 0)
        a << "--fail-rate" << QString::number(o.failRate, 'g', 10);
    if (!o.failMode.isEmpty())
        a << "--fail-mode" << o.failMode;
    a << "--seed" << QString::number(o.seed);
    if (!o.failPattern.isEmpty())
        a << "--fail-pattern" << o.failPattern;
    if (o.failFirst > 0)
        a << "--fail-first" << QString::number(o.failFirst);
    if (!o.failAlways.isEmpty())
        a << "--fail-always" << o.failAlways;
    if (!o.requireHeader.isEmpty())
        a << "--require-header" << o.requireHeader;
    for (const auto &r : o.redirects)
        a << "--redirect" << r.first + QLatin1Char('=') + r.second;
    if (!o.stallPattern.isEmpty())
        a << "--stall" << o.stallPattern << "--stall-first" << QString::number(o.stallFirst);
    if (!o.noContentLength.isEmpty())
        a << "--no-content-length" << o.noContentLength;
    if (o.pauseMidBodyMs > 0)
        a << "--pause-mid-body-ms" << QString::number(o.pauseMidBodyMs);
    if (o.cutRate > 0)
        a << "--cut-rate" << QString::number(o.cutRate) << "--cut-after"
          << QString::number(o.cutAfter);
    a << "--max-seconds" << QString::number(o.maxSeconds);
    a << o.extraArgs;
    return a;
}

}  // namespace

HlsTestServer::HlsTestServer() = default;

HlsTestServer::~HlsTestServer() {
    stop();
}

QString HlsTestServer::ScriptPath() {
    return QStringLiteral(KORVI_SOURCE_DIR "/tests/server/hls_server.py");
}

bool HlsTestServer::start(const QString &root, const HlsServerOptions &options) {
    stop();
    m_port = 0;
    m_error.clear();
    m_runDir = std::make_unique<QTemporaryDir>();
    if (!m_runDir->isValid()) {
        m_error = QStringLiteral("cannot create a temporary folder");
        return false;
    }
    const QString portFile = m_runDir->filePath(QStringLiteral("port"));
    const QString logFile = m_runDir->filePath(QStringLiteral("requests.log"));
    QFile(logFile).open(QIODevice::WriteOnly);

    const QString python = PythonProgram();
    if (python.isEmpty()) {
        m_error = QStringLiteral("python3 not found");
        return false;
    }
    QStringList args{ScriptPath(),  "--root", root,    "--port", "0",
                     "--port-file", portFile, "--log", logFile};
    args << OptionArgs(options);

    m_process = std::make_unique<QProcess>();
    m_process->setProgram(python);
    m_process->setArguments(args);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start();
    if (!m_process->waitForStarted(5000)) {
        m_error = QStringLiteral("server did not start: ") + m_process->errorString();
        m_process.reset();
        return false;
    }

    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        QFile f(portFile);
        if (f.open(QIODevice::ReadOnly)) {
            bool ok = false;
            const uint port = f.readAll().trimmed().toUInt(&ok);
            if (ok && port > 0 && port < 65536) {
                m_port = quint16(port);
                return true;
            }
        }
        if (m_process->waitForFinished(20)) {
            m_error = QStringLiteral("server exited early with code %1").arg(m_process->exitCode());
            m_process.reset();
            return false;
        }
    }
    m_error = QStringLiteral("server reported no port within 10 s");
    stop();
    return false;
}

void HlsTestServer::stop() {
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(2000);
        }
    }
    m_process.reset();
}

bool HlsTestServer::isRunning() const {
    return m_process && m_process->state() == QProcess::Running;
}

qint64 HlsTestServer::pid() const {
    return m_process ? m_process->processId() : 0;
}

QString HlsTestServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QString HlsTestServer::url(const QString &path) const {
    return path.startsWith(QLatin1Char('/')) ? baseUrl() + path
                                             : baseUrl() + QLatin1Char('/') + path;
}

QStringList HlsTestServer::requestLog() const {
    if (!m_runDir)
        return {};
    QFile f(m_runDir->filePath(QStringLiteral("requests.log")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (!line.isEmpty())
            lines << QString::fromUtf8(line);
    }
    return lines;
}

int HlsTestServer::countRequests(const QString &pathRegex, const QString &method) const {
    const QRegularExpression re(pathRegex);
    int n = 0;
    for (const QString &line : requestLog()) {
        const QStringList fields = line.split(QLatin1Char(' '));
        if (fields.size() < 3)
            continue;
        if (!method.isEmpty() && fields.at(0) != method)
            continue;
        if (re.match(fields.at(1).section(QLatin1Char('?'), 0, 0)).hasMatch())
            ++n;
    }
    return n;
}
