#pragma once
// Where the two outside programs, aria2c and ffmpeg, are found.

#include <QString>
#include <QStringList>

// Looks for a tool in the program's folder first, then on PATH. Tests point it at another
// folder and another search path (an empty one hides the system's tools).
class ExternalTools {
public:
    static ExternalTools &Instance();

    // Default: the running program's folder.
    void SetProgramDir(const QString &dir);
    QString ProgramDirectory() const { return m_programDir; }
    // Default: the folders of the PATH environment variable.
    void SetSearchPath(const QStringList &dirs);
    void Reset();

    // Full path of the tool, or empty when it is not found. "aria2c" and "ffmpeg" get ".exe" on
    // Windows.
    QString Find(const QString &baseName) const;
    QString Aria2Path() const { return Find(QStringLiteral("aria2c")); }
    QString FFmpegPath() const { return Find(QStringLiteral("ffmpeg")); }

private:
    ExternalTools();
    QString m_programDir;
    QStringList m_searchPath;
};
