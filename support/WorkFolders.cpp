#include "support/WorkFolders.h"

#include "support/FileUtils.h"
#include "support/TextUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSet>

namespace {

bool IsWorkId(const QString &name) {
    static const QRegularExpression id(QStringLiteral("^[0-9A-F]{8}$"));
    return id.match(name).hasMatch();
}

bool IsPlainFile(const QString &path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

}  // namespace

QString WorkIdFor(const QString &url) {
    return Crc32Hex(url.trimmed());
}

QString WorkDirFor(const QString &url) {
    return GetTempDir() + QLatin1Char('/') + WorkIdFor(url);
}

QString WorkIndexFileName() {
    return QStringLiteral("index.m3u8");
}

QString WorkListFileName(const QString &workId) {
    return workId + QLatin1String(".lst");
}

QString WorkRecordFileName(const QString &workId) {
    return workId + QLatin1String(".resume");
}

QString WorkLockFileName(const QString &workId) {
    return workId + QLatin1String(".lock");
}

bool IsWorkDir(const QString &path) {
    const QFileInfo info(path);
    if (!info.isDir() || info.isSymLink() || !IsWorkId(info.fileName()))
        return false;
    const QDir dir(path);
    return IsPlainFile(dir.filePath(WorkIndexFileName())) &&
           IsPlainFile(dir.filePath(WorkListFileName(info.fileName())));
}

bool IsWorkDirInUse(const QString &path) {
    const QString lockFile = QDir(path).filePath(WorkLockFileName(QFileInfo(path).fileName()));
    if (!QFileInfo::exists(lockFile))
        return false;
    QLockFile lock(lockFile);
    // A live holder's lock never goes stale by age: a download may run for hours.
    lock.setStaleLockTime(0);
    if (lock.tryLock(0)) {
        lock.unlock();
        return false;
    }
    return lock.error() == QLockFile::LockFailedError;
}

bool RemoveKeptWorkDir(const QString &url) {
    const QString dir = WorkDirFor(url);
    if (!IsWorkDir(dir) || IsWorkDirInUse(dir))
        return false;
    return DeleteToRecycleBin(dir, true);
}

int RemoveUnreferencedWorkDirs(const QStringList &urls) {
    QSet<QString> referenced;
    for (const QString &url : urls)
        referenced.insert(WorkIdFor(url));
    int removed = 0;
    const QDir temp(GetTempDir());
    const QStringList names = temp.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : names) {
        if (!IsWorkId(name) || referenced.contains(name))
            continue;
        const QString dir = temp.filePath(name);
        if (IsWorkDir(dir) && !IsWorkDirInUse(dir) && DeleteToRecycleBin(dir, true))
            ++removed;
    }
    return removed;
}
