#include "support/FileUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>

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

    // Without the trash's parent folder, moveToTrash may claim success and leave the file in a
    // "files" folder below the current directory.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));

    QString inTrash;
    const bool moved = QFile::moveToTrash(info.absoluteFilePath(), &inTrash);
    const bool gone = !Exists(QFileInfo(info.absoluteFilePath()));
    if (moved && gone && QFileInfo(inTrash).isAbsolute())
        return true;
    if (!gone && removeIfRefused)
        return RemoveOutright(info);
    return false;
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
