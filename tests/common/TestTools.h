#pragma once
// Small helpers that tests of several areas need: whole-file reads and writes, and running an
// outside tool to its end without a shell.

#include <QByteArray>
#include <QString>
#include <QStringList>

class QProcess;

namespace TestTools {

QByteArray ReadFile(const QString &path);                     // empty when missing
bool WriteFile(const QString &path, const QByteArray &data);  // creates the parent folders
// True when the program started, ended within timeoutMs and exited with code 0. Standard
// output is dropped, standard error goes to the test's own. Killed when it overruns.
bool RunTool(const QString &program, const QStringList &args, int timeoutMs = 60000);
// What a program run to its end printed, and its exit code: -1 when it did not start, crashed,
// or overran timeoutMs and was killed. `environment` ("NAME=value") adds to the test's own.
struct Captured {
    int exitCode = -1;
    QString out;
    QString err;
};
Captured RunCapturing(const QString &program, const QStringList &args,
                      const QStringList &environment = {}, int timeoutMs = 120000);
// The same for a process the test started itself (with its own environment or input).
Captured Finish(QProcess &process, int timeoutMs);
// Leaves a Unix-domain socket file at `path`, as a crashed server leaves one. Nobody can open it
// for reading, root included (tests run as root, which reads any file whatever its mode), yet a
// rename or an unlink replaces it just as it would a file without read access.
bool MakeSocketFile(const QString &path);
// Points TMPDIR and HOME into `base` (call it before the first use of the temporary folder),
// prepares the trash's parent folder and drops proxy variables, so work folders, the trash and
// every request stay inside the test's own folder and the loopback.
void IsolateEnvironment(const QString &base);

}  // namespace TestTools
