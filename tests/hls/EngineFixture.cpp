#include "EngineFixture.h"

#include "hls/TM3u8Class.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace EngineFixture {

bool CopyTree(const QString &from, const QString &to) {
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + "/" + QDir(from).relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            if (!QDir().mkpath(target))
                return false;
        } else if (!QFile::copy(path, target)) {
            return false;
        }
    }
    return true;
}

bool WriteFile(const QString &path, const QByteArray &content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

bool WriteScript(const QString &path, const QByteArray &content) {
    if (!WriteFile(path, content))
        return false;
    return QFile::setPermissions(
        path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
}

QStringList Entries(const QString &dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

}  // namespace EngineFixture

TaskEvents::TaskEvents(TM3u8 &task) {
    task.OnProgress = [this](int, const QString &, float percent, const QString &status) {
        progress.append({percent, status});
    };
    task.OnError = [this](int, const QString &message) { errors << message; };
    task.OnFinish = [this](int) { ++finished; };
    task.OnStop = [this](int) { ++stopped; };
}

bool TaskEvents::WaitForEnd(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (Ends() == 0 && !deadline.hasExpired())
        QTest::qWait(20);
    return Ends() > 0;
}
