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

bool RemoveOutright(const QFileInfo &info) {
    if (info.isDir() && !info.isSymLink())
        return QDir(info.absoluteFilePath()).removeRecursively();
    return QFile::remove(info.absoluteFilePath());
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
    return WithoutTrailingSeparator(QDir::tempPath());
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
        return RemoveOutright(info);
    return false;
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
