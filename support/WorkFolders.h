#pragma once
// The folders a download keeps its files in, in the temporary folder. A stopped download keeps
// its folder so that the next start resumes from the segments it holds; the functions here
// remove the folders no task will come back to, and only ever folders plainly of our making.

#include <QString>
#include <QStringList>

#include <memory>

class QLockFile;

// The same address always names the same folder: "1A2B3C4D", the CRC-32 of the trimmed address.
QString WorkIdFor(const QString &url);
QString WorkDirFor(const QString &url);
// Where korvi-get keeps its work folders: a folder of their own inside the temporary folder, so
// that Korvi's start-up clean-up never takes a folder a stopped korvi-get promised to resume.
QString CommandLineTempDir();
// Files of a work folder besides the segments: the local playlist, aria2c's input list, the
// record of which segments are complete, and the lock a running download holds.
QString WorkIndexFileName();
QString WorkListFileName(const QString &workId);
QString WorkRecordFileName(const QString &workId);
QString WorkLockFileName(const QString &workId);

// A real folder (not a link) with an eight-hex-digit name that holds its own index.m3u8 and
// list file.
bool IsWorkDir(const QString &path);
enum class WorkDirLock { Taken, HeldElsewhere, Failed };
// Takes the folder's lock into `lock`; a lock left by a process that has ended is taken over.
WorkDirLock LockWorkDir(const QString &dir, std::unique_ptr<QLockFile> &lock);
// With the folder's lock held: everything in it but the lock goes (to the trash, or outright
// when the trash refuses), never through a link.
void DiscardWorkDirContents(const QString &dir);
// With the folder's lock held: empties the folder, releases the lock and removes the folder,
// unless another download has taken it in between. True when the folder is gone.
bool RemoveLockedWorkDir(const QString &dir, std::unique_ptr<QLockFile> &lock);

// Removes the address's kept folder unless it is not one of ours or a download is using it;
// true when it went. Both clean-ups take the folder's lock first.
bool RemoveKeptWorkDir(const QString &url);
// Removes every work folder of the temporary folder that none of `urls` names and no download
// uses; returns how many went.
int RemoveUnreferencedWorkDirs(const QStringList &urls);
