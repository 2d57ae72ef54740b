#pragma once
// Starting the external tools (unit MyProcessUtils).

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

class QProcess;

// Show-window codes callers pass; only "hidden" and "minimised console" change anything here.
enum : quint16 {
    kShowHidden = 0,
    kShowNormal = 5,
    kShowMinNoActive = 7,
};

// Starts `program` with the parameter line `params` (a leading blank is added when missing, then
// the line is split into arguments; double quotes group, `"""` inside quotes is a literal quote).
// No shell is involved. Hidden children get the null device for all standard streams.
// With `wait`, the call returns after the child has ended, running the event loop meanwhile so
// timers and other handlers keep working (callers must tolerate that re-entry).
// An empty `workDir` keeps the caller's current directory.
// Returns the process ID, or 0 when no process was created. The child is left to run or finish on
// its own; nobody holds a handle to it.
qint64 RunProcess(const QString &program, const QString &params, quint16 showCode, bool wait,
                  const QString &workDir);

// How a hidden run with wait ended.
struct ProcessRun {
    qint64 processId = 0;  // 0: no process was created
    bool ended = false;    // false: the wait was cut short (the program is quitting); the child was
                           // killed
    bool exitedNormally = false;
    int exitCode = -1;
    bool Succeeded() const { return processId != 0 && ended && exitedNormally && exitCode == 0; }
};

struct ProcessRunOptions {
    QStringList leadingArguments;  // placed before the parameter line's own arguments
    // Receive the child's output as it arrives; without them the stream goes to the null device.
    std::function<void(const QByteArray &)> onStandardOutput;
    std::function<void(const QByteArray &)> onStandardError;
};

// RunProcess with a hidden window and wait, which also reports how the child ended.
ProcessRun RunProcessWithStatus(const QString &program, const QString &params,
                                const QString &workDir, const ProcessRunOptions &options = {});

// Same steps; returns the process object (owned by the caller, who deletes it), or nullptr when no
// process was created. After a wait the process has finished. Show code 7 runs hidden here: the
// console presenter would take ownership of a process the caller owns.
// With an `errorFile`, the tool's standard error goes there instead of the null device.
QProcess *RunProcessHandle(const QString &program, const QString &params, quint16 showCode,
                           bool wait, const QString &workDir, const QString &errorFile = QString());
// Receives each program and parameter line the runner starts (korvi-get --verbose).
void SetProcessLog(std::function<void(const QString &program, const QString &params)> log);

// Has a child not yet started end with the program: on Linux it is killed when Korvi or
// korvi-get ends, however that happens, so no aria2c or ffmpeg goes on writing into a work folder
// nobody watches. Every process the runner starts has it.
void EndWithParent(QProcess *process);

// Returns once the started child has ended (or its object was deleted). Timers, clicks and other
// tasks' events run meanwhile, so a handler may delete the process; without an application
// object it blocks instead. Also returns when the application leaves its event loops.
void WaitWhileEventsRun(QProcess *process);

// The parameter line as it reaches the child: a blank in front unless it already starts with one.
QString NormaliseParamLine(const QString &params);

// Ends a child politely, then forcefully: terminate(), a short wait, kill(). Safe on nullptr.
// Blocks for up to twice graceMs: not for the GUI thread.
void EndProcess(QProcess *process, int graceMs = 1000);

// Takes ownership of `process` and ends it without blocking: terminate() now, kill() from a timer
// after graceMs, deleteLater() once it has finished. A child still running when the application
// object goes away is killed then, so none outlives the program. Safe on nullptr; a process that
// has already ended is only deleted.
void EndProcessLater(QProcess *process, int graceMs = 2000);
// Processes handed to EndProcessLater that have not finished yet.
int ProcessesBeingEnded();

// Hands a file or folder to the desktop to open. The GUI installs its opener at start-up
// (QDesktopServices); without one, `xdg-open` is started detached.
void OpenWithShell(const QString &path);
void SetShellOpener(void (*opener)(const QString &path));

// Show code 7 runs the tool in a small console window of the GUI's. The GUI installs the
// presenter; without one the child runs hidden. The presenter takes ownership of the process,
// which has not been started yet, and starts it.
using ConsolePresenter = void (*)(QProcess *process);
void SetConsolePresenter(ConsolePresenter presenter);
