#include "support/WorkFolders.h"

#include "support/FileUtils.h"
#include "support/TextUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

namespace {

bool IsWorkId(const QString &name) {
    static const QRegularExpression id(QStringLiteral("^[0-9A-F]{8}$"));
    return id.match(name).hasMatch();
}

bool IsPlainFile(const QString &path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

QString LockPathOf(const QString &dir) {
    return dir + QLatin1Char('/') + WorkLockFileName(QFileInfo(dir).fileName());
}

// A discard moves a folder's content aside into one of these before it goes to the trash.
const QString kDiscardPrefix = QStringLiteral(".discard-");

// Takes the lock and removes the folder, when no download holds it.
bool RemoveUnusedWorkDir(const QString &dir) {
    std::unique_ptr<QLockFile> lock;
    return IsWorkDir(dir) && LockWorkDir(dir, lock) == WorkDirLock::Taken &&
           RemoveLockedWorkDir(dir, lock);
}

}  // namespace

QString WorkIdFor(const QString &url) {
    return Crc32Hex(url.trimmed());
}

QString WorkDirFor(const QString &url) {
    return GetTempDir() + QLatin1Char('/') + WorkIdFor(url);
}

QString CommandLineTempDir() {
    return GetTempDir() + QLatin1String("/korvi-get");
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

WorkDirLock LockWorkDir(const QString &dir, std::unique_ptr<QLockFile> &lock) {
    lock = std::make_unique<QLockFile>(LockPathOf(dir));
    // A live holder's lock never goes stale by age: a download may run for hours.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0))
        return WorkDirLock::Taken;
    const bool held = lock->error() == QLockFile::LockFailedError;
    lock.reset();
    return held ? WorkDirLock::HeldElsewhere : WorkDirLock::Failed;
}

void DiscardWorkDirContents(const QString &dir) {
    const QString lockName = WorkLockFileName(QFileInfo(dir).fileName());
    QStringList names =
        QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    names.removeAll(lockName);
    if (names.isEmpty())
        return;
    // Moved aside first, so the folder is empty while its lock is still held; the trash then
    // receives one folder under the work folder's own name.
    QTemporaryDir holder(QFileInfo(dir).absolutePath() + QLatin1Char('/') + kDiscardPrefix +
                         QLatin1String("XXXXXX"));
    holder.setAutoRemove(false);
    const QString aside = holder.path() + QLatin1Char('/') + QFileInfo(dir).fileName();
    const bool movable = holder.isValid() && QDir().mkdir(aside);
    // Thousands of segments take as many renames: other events run between slices of them.
    QElapsedTimer slice;
    slice.start();
    for (const QString &name : names) {
        const QString path = dir + QLatin1Char('/') + name;
        if (!movable || !QDir().rename(path, aside + QLatin1Char('/') + name))
            RemoveOutright(path);
        if (slice.elapsed() >= 8 && QCoreApplication::instance()) {
            QCoreApplication::processEvents();
            slice.restart();
        }
    }
    if (movable)
        DeleteToRecycleBin(aside, true);
    if (holder.isValid())
        RemoveOutright(holder.path());
}

bool RemoveLockedWorkDir(const QString &dir, std::unique_ptr<QLockFile> &lock) {
    DiscardWorkDirContents(dir);
    lock.reset();
    // Fails, leaving the folder, when another download has taken its lock meanwhile.
    QDir().rmdir(dir);
    return !QFileInfo(dir).exists() && !QFileInfo(dir).isSymLink();
}

bool RemoveKeptWorkDir(const QString &url) {
    return RemoveUnusedWorkDir(WorkDirFor(url));
}

int RemoveUnreferencedWorkDirs(const QStringList &urls) {
    QSet<QString> referenced;
    for (const QString &url : urls)
        referenced.insert(WorkIdFor(url));
    int removed = 0;
    const QDir temp(GetTempDir());
    const QStringList names = temp.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : names) {
        const QString dir = temp.filePath(name);
        // What a discard cut short left behind.
        if (name.startsWith(kDiscardPrefix) && !QFileInfo(dir).isSymLink())
            RemoveOutright(dir);
        if (!IsWorkId(name) || referenced.contains(name))
            continue;
        if (RemoveUnusedWorkDir(dir))
            ++removed;
    }
    return removed;
}
