#pragma once
// The two batch imports of download tasks: a list file (a ZYPlayer playlist or a text file of
// addresses with optional title lines) and clipboard lines of "name$address". Both only name
// the tasks; the page hands each one to the scheduler's AddM3u8Task.

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>

struct ImportedTask {
    QString url;
    QString outFile;
};

// A task name as it may stand in a file name: "/" becomes "_" and control characters are
// dropped, so a title can never write outside the chosen folder. Nothing else changes.
QString SafeNamePart(const QString &name);

// Trims blanks and control characters (every character up to U+0020) from both ends.
QString TrimBlanks(const QString &text);

// Names the addresses of already loaded, non-blank lines. `saveFolder` ends in a separator.
QList<ImportedTask> ListImportTasks(QStringList lines, const QString &prefix,
                                    const QString &saveFolder);

// The largest list file the import reads: playlists and address lists are small, and a video
// dropped by mistake must not be read whole into memory.
inline constexpr qint64 kMaxListFileBytes = 16 * 1024 * 1024;
// True when the list import refuses the file for its size.
bool ListFileTooLarge(const QString &listFile);

// The list import of one file: nothing when the file or the folder is missing or the file is
// too large. The prefix is
// the file's name without its last extension, or empty with `noPrefix`.
QList<ImportedTask> ImportM3uList(const QString &listFile, const QString &saveFolder,
                                  bool noPrefix);

// Splits a clipboard line into fields: blanks and `delimiter` separate fields, double quotes
// group (two in a row stand for one), a trailing delimiter adds an empty field.
QStringList SplitFields(const QString &line, QChar delimiter);

// One clipboard line: true and the task when its second field is an address.
bool ClipboardLineTask(const QString &line, QChar delimiter, const QString &prefix,
                       const QString &saveFolder, ImportedTask &task);
