#include "TestTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace TestTools {

QByteArray ReadFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteFile(const QString &path, const QByteArray &data) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

bool RunTool(const QString &program, const QStringList &args, int timeoutMs) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return false;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void IsolateEnvironment(const QString &base) {
    QDir().mkpath(base + "/tmp");
    QDir().mkpath(base + "/home/.local/share");
    qputenv("TMPDIR", (base + "/tmp").toUtf8());
    qputenv("HOME", (base + "/home").toUtf8());
    qunsetenv("XDG_DATA_HOME");
    for (const char *name : {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "HTTP_PROXY",
                             "HTTPS_PROXY", "FTP_PROXY", "ALL_PROXY"})
        qunsetenv(name);
    qputenv("no_proxy", "*");
}

}  // namespace TestTools
