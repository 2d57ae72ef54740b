#include "TestStreams.h"

#include "MediaProbe.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>

namespace {

QByteArray Stamp(const QStringList &args) {
    // A changed script makes the streams again, so a cached folder never lags behind it.
    QFile script(TestStreams::Script());
    if (!script.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(script.readAll());
    hash.addData(args.join(QLatin1Char(' ')).toUtf8());
    return hash.result().toHex();
}

bool IsComplete(const QString &dir, const QByteArray &stamp) {
    QFile f(dir + QStringLiteral("/.stamp"));
    return !stamp.isEmpty() && f.open(QIODevice::ReadOnly) && f.readAll() == stamp;
}

// Makes dir with the script unless a complete copy is there. Two test processes may ask at
// once: a lock file serialises them, and the streams are made in a temporary folder that is
// renamed into place only when whole.
QString Ensure(const QString &dir, const QStringList &args, bool *made) {
    if (made)
        *made = false;
    const QByteArray stamp = Stamp(args);
    if (IsComplete(dir, stamp))
        return dir;

    QLockFile lock(dir + QStringLiteral(".lock"));
    lock.setStaleLockTime(5 * 60 * 1000);
    if (!lock.tryLock(10 * 60 * 1000)) {
        qWarning("TestStreams: could not lock %s", qPrintable(dir));
        return {};
    }
    if (IsComplete(dir, stamp))
        return dir;

    const QString pid = QString::number(QCoreApplication::applicationPid());
    const QString tmp = dir + QStringLiteral(".tmp-") + pid;
    QDir(tmp).removeRecursively();

    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QStringLiteral("bash"), QStringList{TestStreams::Script(), tmp} << args);
    const bool ran = p.waitForStarted(10000) && p.waitForFinished(5 * 60 * 1000) &&
                     p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ran) {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(2000);
        }
        qWarning("TestStreams: %s failed", qPrintable(TestStreams::Script()));
        QDir(tmp).removeRecursively();
        return {};
    }
    QFile stampFile(tmp + QStringLiteral("/.stamp"));
    if (!stampFile.open(QIODevice::WriteOnly) || stampFile.write(stamp) != stamp.size()) {
        QDir(tmp).removeRecursively();
        return {};
    }
    stampFile.close();

    if (QFileInfo::exists(dir)) {
        const QString old = dir + QStringLiteral(".old-") + pid;
        if (!QDir().rename(dir, old)) {
            QDir(tmp).removeRecursively();
            return {};
        }
        QDir(old).removeRecursively();
    }
    if (!QDir().rename(tmp, dir)) {
        QDir(tmp).removeRecursively();
        return {};
    }
    if (made)
        *made = true;
    return dir;
}

}  // namespace

namespace TestStreams {

QString Script() {
    return QStringLiteral(KORVI_SOURCE_DIR "/tests/server/make_streams.sh");
}

QString Prepare(const QString &dir, bool big, bool *made) {
    return Ensure(QDir::cleanPath(QDir(dir).absolutePath()),
                  big ? QStringList{QStringLiteral("--big")} : QStringList{}, made);
}

QString Root() {
    static const QString root = Prepare(QStringLiteral(KORVI_BINARY_DIR "/test-streams"), false);
    return root;
}

QString BigRoot() {
    static const QString root = Prepare(QStringLiteral(KORVI_BINARY_DIR "/test-streams-big"), true);
    return root;
}

QString SourceMedia() {
    const QString root = Root();
    return root.isEmpty() ? QString() : root + QStringLiteral("/source.mp4");
}

double SourceDuration() {
    static const double duration = MediaProbe::Duration(SourceMedia());
    return duration;
}

}  // namespace TestStreams
