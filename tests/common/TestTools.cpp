#include "TestTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#endif

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

Captured RunCapturing(const QString &program, const QStringList &args,
                      const QStringList &environment, int timeoutMs) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : environment)
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    p.setProcessEnvironment(env);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return {};
    return Finish(p, timeoutMs);
}

Captured Finish(QProcess &p, int timeoutMs) {
    Captured r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

bool MakeSocketFile(const QString &path) {
#ifdef Q_OS_UNIX
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (name.size() >= qsizetype(sizeof(address.sun_path))) {
        ::close(fd);
        return false;
    }
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound && QFileInfo::exists(path) && !QFileInfo(path).isFile();
#else
    Q_UNUSED(path);
    return false;
#endif
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
