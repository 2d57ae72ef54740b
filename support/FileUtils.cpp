#include "support/FileUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QSysInfo>

#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#endif

namespace {

QString WithoutTrailingSeparator(QString path) {
    // A root stays a root: callers append "/" and a name, and "//name" still names the file.
    if (path.size() > 1 && (path.endsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('\\'))))
        path.chop(1);
    return path;
}

bool IsDelimiter(QChar c) {
    return c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':');
}

QString AsciiLower(QString text) {
    for (QChar &c : text) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return text;
}

bool Exists(const QFileInfo &info) {
    // A dangling symbolic link is still something to delete.
    return info.exists() || info.isSymLink();
}

#ifdef Q_OS_UNIX
// Empties the folder open as `dirFd` (taken over and closed), descending only into real
// folders: each is opened relative to its parent with O_NOFOLLOW, so a folder swapped for a
// link meanwhile is not entered.
bool RemoveEntriesAt(int dirFd, int depth) {
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return false;
    }
    bool ok = true;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        struct stat st = {};
        if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const int child = depth < 64 ? ::openat(::dirfd(dir), name,
                                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                                         : -1;
            if (child < 0 || !RemoveEntriesAt(child, depth + 1))
                ok = false;
            ok = ::unlinkat(::dirfd(dir), name, AT_REMOVEDIR) == 0 && ok;
        } else {
            ok = ::unlinkat(::dirfd(dir), name, 0) == 0 && ok;
        }
    }
    ::closedir(dir);
    return ok;
}

bool IsPrivateFolder(const QByteArray &path) {
    struct stat st = {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

QString PrivateTempDir(const QString &shared) {
    // One answer per run and temporary path: a fresh folder made for this run is kept for it.
    static QString s_shared;
    static QString s_private;
    if (s_shared == shared && IsPrivateFolder(QFile::encodeName(s_private)))
        return s_private;
    const QString base = shared + QStringLiteral("/korvi-") + QString::number(::getuid());
    const QByteArray native = QFile::encodeName(base);
    QString chosen = base;
    if ((::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) || !IsPrivateFolder(native)) {
        // The name is taken by another user, a link or an opened folder: none of it is used.
        QByteArray pattern = QFile::encodeName(base + QStringLiteral("-XXXXXX"));
        if (::mkdtemp(pattern.data()))
            chosen = QFile::decodeName(pattern);
    }
    s_shared = shared;
    s_private = chosen;
    return chosen;
}
#endif

bool RemoveOutrightAt(const QString &path) {
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return ::unlink(native.constData()) == 0 || errno == ENOENT;
    RemoveEntriesAt(fd, 0);
    return ::rmdir(native.constData()) == 0;
#else
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return QFile::remove(path);
#endif
}

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
#define KORVI_FREEDESKTOP_TRASH 1
// The home trash, with its two folders made ready. False when it cannot be used (for example
// when a file stands where the folder should be).
bool PrepareHomeTrash() {
    const QString trash =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    return QDir().mkpath(trash + "/files") && QDir().mkpath(trash + "/info");
}

bool OnHomeVolume(const QString &path) {
    return QStorageInfo(path).rootPath() == QStorageInfo(QDir::homePath()).rootPath();
}

// A trash keeps its files in ".../Trash/files", ".../.Trash-UID/files" or ".../.Trash/UID/files".
bool IsInsideTrash(const QString &path) {
    const QStringList parts = QDir::cleanPath(path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (int i = 0; i + 1 < parts.size(); ++i) {
        if (parts.at(i) != QLatin1String("files") || i == 0)
            continue;
        const QString &owner = parts.at(i - 1);
        if (owner == QLatin1String("Trash") || owner.startsWith(QLatin1String(".Trash-")))
            return true;
        if (i >= 2 && parts.at(i - 2) == QLatin1String(".Trash"))
            return true;
    }
    return false;
}

// When the trash cannot be established, moveToTrash may still "succeed" by moving the item into
// "files" below the current directory. Such an item is put back where it was.
void UndoStrayTrashMove(const QString &original, const QString &reported) {
    const QString stray = QDir::current().absoluteFilePath(reported);
    if (!QDir().rename(stray, original))
        return;
    const QFileInfo strayInfo(stray);
    const QString filesDir = strayInfo.absolutePath();
    const QString infoDir = QFileInfo(filesDir).absolutePath() + "/info";
    QFile::remove(infoDir + '/' + strayInfo.fileName() + ".trashinfo");
    QDir().rmdir(filesDir);
    QDir().rmdir(infoDir);
}

#endif

// True when the item now lies in the desktop's trash.
bool MoveToTrash(const QString &absolutePath) {
#ifdef KORVI_FREEDESKTOP_TRASH
    // Without the trash's folders, moveToTrash may claim success and leave the item in a
    // "files" folder below the current directory.
    if (!PrepareHomeTrash() && OnHomeVolume(absolutePath))
        return false;
    QString inTrash;
    if (!QFile::moveToTrash(absolutePath, &inTrash))
        return false;
    if (QFileInfo(inTrash).isAbsolute() && IsInsideTrash(inTrash))
        return true;
    UndoStrayTrashMove(absolutePath, inTrash);
    return false;
#else
    return QFile::moveToTrash(absolutePath);
#endif
}

}  // namespace

QString GetTempDir() {
#ifdef Q_OS_UNIX
    return PrivateTempDir(WithoutTrailingSeparator(QDir::tempPath()));
#else
    return WithoutTrailingSeparator(QDir::tempPath());
#endif
}

bool MakePrivateDir(const QString &path) {
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(path);
    struct stat st = {};
    if (::lstat(native.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return st.st_uid == ::geteuid();
        if (::unlink(native.constData()) != 0)
            return false;
    }
    return ::mkdir(native.constData(), 0700) == 0 || IsPrivateFolder(native);
#else
    return QDir().mkpath(path);
#endif
}

QString GetDesktopDir() {
    return WithoutTrailingSeparator(
        QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}

QString MakeOutputFileName(const QString &inputName, const QString &newExt, const QString &suffix) {
    if (inputName.isEmpty())
        return QString();

    int nameStart = 0;
    for (int i = inputName.size() - 1; i >= 0; --i) {
        if (IsDelimiter(inputName.at(i))) {
            nameStart = i + 1;
            break;
        }
    }
    const QString directory = inputName.left(nameStart);
    const QString fileName = inputName.mid(nameStart);
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString oldExt = AsciiLower(dot >= 0 ? fileName.mid(dot) : QString());

    QString ext = newExt;
    if (ext.isEmpty())
        ext = oldExt;
    else if (!ext.startsWith(QLatin1Char('.')))
        ext.prepend(QLatin1Char('.'));
    ext = AsciiLower(ext);

    const QString base = fileName.left(fileName.size() - oldExt.size());
    if (oldExt != ext)
        return directory + base + ext;
    const QString tail = suffix.isEmpty() ? QStringLiteral("-new") : suffix;
    return directory + base + tail + ext;
}

qint64 FileSizeByName(const QString &fileName) {
    if (fileName.isEmpty() || !QFileInfo::exists(fileName))
        return -1;
    // Opening a named pipe would block until a writer comes; devices have no size either.
    if (!QFileInfo(fileName).isFile())
        return -1;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.size();
}

bool DeleteToRecycleBin(const QString &path, bool removeIfRefused) {
    // An empty path would otherwise resolve to the current directory.
    if (path.isEmpty())
        return false;
    const QFileInfo info(QFileInfo(path).absoluteFilePath());
    if (!Exists(info))
        return false;

    if (MoveToTrash(info.absoluteFilePath()))
        return true;
    if (removeIfRefused && Exists(QFileInfo(info.absoluteFilePath())))
        return RemoveOutrightAt(info.absoluteFilePath());
    return false;
}

bool RemoveOutright(const QString &path) {
    return !path.isEmpty() && RemoveOutrightAt(QFileInfo(path).absoluteFilePath());
}

bool SameFile(const QString &a, const QString &b) {
    if (QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
        QDir::cleanPath(QFileInfo(b).absoluteFilePath()))
        return true;
    std::error_code error;
    return std::filesystem::equivalent(std::filesystem::path(QFile::encodeName(a).toStdString()),
                                       std::filesystem::path(QFile::encodeName(b).toStdString()),
                                       error) &&
           !error;
}

bool IsWin64() {
    return QSysInfo::currentCpuArchitecture().endsWith(QLatin1String("64"));
}

QString ProgramDir() {
    if (QCoreApplication::instance())
        return WithoutTrailingSeparator(QCoreApplication::applicationDirPath());
    const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    return WithoutTrailingSeparator(QFileInfo(exe).absolutePath());
}
