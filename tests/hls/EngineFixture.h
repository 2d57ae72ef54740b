#pragma once
// Shared set-up of the engine's tests: a private temporary folder and trash per test program,
// a served copy of the test streams with extra playlists, event recording and fake tools.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include "TestTools.h"

class TM3u8;

namespace EngineFixture {

using TestTools::IsolateEnvironment;
// Copies a folder tree; false on any failure.
bool CopyTree(const QString &from, const QString &to);
// Writes a file, creating its folder; false on failure.
bool WriteFile(const QString &path, const QByteArray &content);
// Writes an executable script.
bool WriteScript(const QString &path, const QByteArray &content);
// Files and folders directly inside `dir`.
QStringList Entries(const QString &dir);

}  // namespace EngineFixture

// Records what a task reports, in order.
class TaskEvents {
public:
    explicit TaskEvents(TM3u8 &task);
    bool WaitForEnd(int timeoutMs);

    QList<QPair<float, QString>> progress;
    QStringList errors;
    int finished = 0;
    int stopped = 0;
    int Ends() const { return int(errors.size()) + finished + stopped; }
};
