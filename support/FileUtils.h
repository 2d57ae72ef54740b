#pragma once
// Paths and files shared by the whole program.

#include <QString>
#include <QtGlobal>

// The user's temporary directory, never ending in a separator. On Unix, where the system's
// (TMPDIR, usually the shared /tmp) is open to every user, this is a private folder inside it:
// "<tmp>/korvi-<uid>", mode 0700, or a fresh folder for the run when that name is taken by
// something that is not a real folder of this user closed to everyone else.
QString GetTempDir();
// Makes `path` a folder only its owner can enter, unless a real folder of this user is already
// there; a link or file in its place is removed, never followed. False when the place holds
// another user's folder or the folder cannot be made.
bool MakePrivateDir(const QString &path);
QString GetDesktopDir();

// Output name derived from an input name: the extension is replaced by `newExt` (lower-cased,
// dot added); when that would give the input's own name, `suffix` ("-new" when empty) goes
// before the extension. Accepts both '/' and '\\' (and ':') as delimiters.
QString MakeOutputFileName(const QString &inputName, const QString &newExt, const QString &suffix);

// Size in bytes, or -1 when the file does not exist, cannot be opened or is not a regular file
// (a named pipe would block the open).
qint64 FileSizeByName(const QString &fileName);

// Moves a file or folder (with its contents) to the desktop trash, silently. A work folder the
// trash refuses is removed outright when `removeIfRefused` is set. True on success.
bool DeleteToRecycleBin(const QString &path, bool removeIfRefused = false);
// Removes a file, a link or a folder with everything in it at once, never following a link (a
// link inside goes, its target stays). True when nothing is left at `path`.
bool RemoveOutright(const QString &path);

// True when both names reach one file, however they are written (relative, "./", a link, a hard
// link).
bool SameFile(const QString &a, const QString &b);

// True on a 64-bit system.
bool IsWin64();

// The folder of the running program, without trailing separator.
QString ProgramDir();
