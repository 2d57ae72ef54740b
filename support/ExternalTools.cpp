#include "support/ExternalTools.h"

#include "support/FileUtils.h"

#include <QDir>
#include <QFileInfo>

namespace {

QStringList PathFolders() {
    const QString path = qEnvironmentVariable("PATH");
    QStringList folders;
    for (const QString &folder : path.split(QDir::listSeparator(), Qt::SkipEmptyParts))
        folders.append(folder);
    return folders;
}

bool IsRunnable(const QString &path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

}  // namespace

ExternalTools &ExternalTools::Instance() {
    static ExternalTools tools;
    return tools;
}

ExternalTools::ExternalTools() {
    Reset();
}

void ExternalTools::SetProgramDir(const QString &dir) {
    m_programDir = dir;
}

void ExternalTools::SetSearchPath(const QStringList &dirs) {
    m_searchPath = dirs;
}

void ExternalTools::Reset() {
    m_programDir = ProgramDir();
    m_searchPath = PathFolders();
}

QString ExternalTools::Find(const QString &baseName) const {
    if (baseName.isEmpty())
        return QString();
#ifdef Q_OS_WIN
    const QString fileName = baseName.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)
                                 ? baseName
                                 : baseName + QLatin1String(".exe");
#else
    const QString fileName = baseName;
#endif
    QStringList folders;
    if (!m_programDir.isEmpty())
        folders.append(m_programDir);
    folders.append(m_searchPath);
    for (const QString &folder : folders) {
        const QString candidate = QDir(folder).absoluteFilePath(fileName);
        if (IsRunnable(candidate))
            return QDir::cleanPath(candidate);
    }
    return QString();
}
