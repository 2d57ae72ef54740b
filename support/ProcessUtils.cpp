#include "support/ProcessUtils.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#include <unistd.h>
#include <csignal>
#endif

namespace {

void (*g_shellOpener)(const QString &path) = nullptr;
ConsolePresenter g_consolePresenter = nullptr;

QProcess *PrepareProcess(const QString &program, const QString &params, const QString &workDir) {
    auto *process = new QProcess;
    EndWithParent(process);
    process->setProgram(program);
    process->setArguments(QProcess::splitCommand(NormaliseParamLine(params)));
    if (!workDir.isEmpty())
        process->setWorkingDirectory(workDir);
    return process;
}

void HideStandardStreams(QProcess *process) {
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
}

// Starts a hidden child; nullptr when it could not be started.
std::function<void(const QString &, const QString &)> g_runLog;

QProcess *StartHidden(const QString &program, const QString &params, const QString &workDir,
                      const QString &errorFile = QString()) {
    QProcess *process = PrepareProcess(program, params, workDir);
    HideStandardStreams(process);
    if (!errorFile.isEmpty())
        process->setStandardErrorFile(errorFile);
    if (g_runLog)
        g_runLog(program, params);
    process->start();
    if (!process->waitForStarted(-1)) {
        delete process;
        return nullptr;
    }
    return process;
}

// Parent of the processes being ended. A child of the application object, so its destructor
// (at the end of the program) kills whatever is still running.
class ProcessReaper : public QObject {
public:
    static ProcessReaper *Instance() {
        static QPointer<ProcessReaper> reaper;
        if (!reaper && QCoreApplication::instance())
            reaper = new ProcessReaper(QCoreApplication::instance());
        return reaper;
    }
    ~ProcessReaper() override {
        for (QProcess *process : findChildren<QProcess *>(Qt::FindDirectChildrenOnly)) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(2000);
            }
        }
    }

private:
    using QObject::QObject;
};

}  // namespace

void EndWithParent(QProcess *process) {
#ifdef Q_OS_LINUX
    const pid_t parent = ::getpid();
    process->setChildProcessModifier([parent] {
        // In the child between fork and exec. The signal comes when the thread that started
        // the child ends, which here is the main thread, so in effect when the program ends.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The parent may have gone before the line above took effect.
        if (::getppid() != parent)
            ::_exit(127);
    });
#else
    Q_UNUSED(process);
#endif
}

void WaitWhileEventsRun(QProcess *process) {
    QPointer<QProcess> guard(process);
    if (!QCoreApplication::instance()) {
        process->waitForFinished(-1);
        return;
    }
    QEventLoop loop;
    QObject::connect(process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(process, &QProcess::errorOccurred, &loop, [&loop, guard] {
        if (!guard || guard->state() == QProcess::NotRunning)
            loop.quit();
    });
    QObject::connect(process, &QObject::destroyed, &loop, &QEventLoop::quit);
    if (guard && guard->state() != QProcess::NotRunning)
        loop.exec();
}

QString NormaliseParamLine(const QString &params) {
    if (params.startsWith(QLatin1Char(' ')))
        return params;
    return QLatin1Char(' ') + params;
}

qint64 RunProcess(const QString &program, const QString &params, quint16 showCode, bool wait,
                  const QString &workDir) {
    if (showCode == kShowMinNoActive && g_consolePresenter) {
        // The presenter owns the process from here on and may delete it at any time.
        QPointer<QProcess> process = PrepareProcess(program, params, workDir);
        g_consolePresenter(process);
        if (!process || process->processId() == 0)
            return 0;
        const qint64 pid = process->processId();
        if (wait && process)
            WaitWhileEventsRun(process);
        return pid;
    }

    if (!wait) {
        // Nobody keeps a handle to the child, so it is started on its own and reaped by the
        // system rather than by a QProcess that would kill it on destruction.
        QProcess process;
        process.setProgram(program);
        process.setArguments(QProcess::splitCommand(NormaliseParamLine(params)));
        if (!workDir.isEmpty())
            process.setWorkingDirectory(workDir);
        HideStandardStreams(&process);
        qint64 pid = 0;
        if (!process.startDetached(&pid))
            return 0;
        return pid;
    }

    QProcess *process = StartHidden(program, params, workDir);
    if (!process)
        return 0;
    const qint64 pid = process->processId();
    WaitWhileEventsRun(process);
    delete process;
    return pid;
}

ProcessRun RunProcessWithStatus(const QString &program, const QString &params,
                                const QString &workDir, const ProcessRunOptions &options) {
    ProcessRun run;
    auto *process = PrepareProcess(program, params, workDir);
    process->setArguments(options.leadingArguments + process->arguments());
    process->setStandardInputFile(QProcess::nullDevice());
    if (options.onStandardOutput) {
        QObject::connect(process, &QProcess::readyReadStandardOutput, process, [process, options] {
            options.onStandardOutput(process->readAllStandardOutput());
        });
    } else {
        process->setStandardOutputFile(QProcess::nullDevice());
    }
    if (options.onStandardError) {
        QObject::connect(process, &QProcess::readyReadStandardError, process, [process, options] {
            options.onStandardError(process->readAllStandardError());
        });
    } else {
        process->setStandardErrorFile(QProcess::nullDevice());
    }
    process->start();
    if (!process->waitForStarted(-1)) {
        delete process;
        return run;
    }
    run.processId = process->processId();
    WaitWhileEventsRun(process);
    if (process->state() != QProcess::NotRunning) {
        // Only a quitting program ends the wait early; the child must not outlive the run.
        process->kill();
        process->waitForFinished(2000);
    } else {
        run.ended = true;
        run.exitedNormally = process->exitStatus() == QProcess::NormalExit;
        run.exitCode = process->exitCode();
    }
    process->disconnect();
    delete process;
    return run;
}

void SetProcessLog(std::function<void(const QString &program, const QString &params)> log) {
    g_runLog = std::move(log);
}

QProcess *RunProcessHandle(const QString &program, const QString &params, quint16 showCode,
                           bool wait, const QString &workDir, const QString &errorFile) {
    // The caller owns the returned process, so it is never handed to the console presenter.
    Q_UNUSED(showCode);
    QProcess *process = StartHidden(program, params, workDir, errorFile);
    if (process && wait)
        WaitWhileEventsRun(process);
    return process;
}

void EndProcess(QProcess *process, int graceMs) {
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (process->waitForFinished(graceMs))
        return;
    process->kill();
    process->waitForFinished(qMax(graceMs, 1000));
}

void EndProcessLater(QProcess *process, int graceMs) {
    if (!process)
        return;
    ProcessReaper *reaper = ProcessReaper::Instance();
    if (!reaper) {
        // No event loop to finish the job later.
        EndProcess(process, graceMs);
        delete process;
        return;
    }
    process->disconnect();
    process->setParent(reaper);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process, [process] {
        if (process->state() == QProcess::NotRunning)
            process->deleteLater();
    });
    QTimer::singleShot(graceMs, process, [process] {
        if (process->state() != QProcess::NotRunning)
            process->kill();
    });
    process->terminate();
}

int ProcessesBeingEnded() {
    ProcessReaper *reaper = ProcessReaper::Instance();
    if (!reaper)
        return 0;
    int running = 0;
    for (QProcess *process : reaper->findChildren<QProcess *>(Qt::FindDirectChildrenOnly))
        running += process->state() != QProcess::NotRunning ? 1 : 0;
    return running;
}

void OpenWithShell(const QString &path) {
    if (g_shellOpener) {
        g_shellOpener(path);
        return;
    }
    QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}

void SetShellOpener(void (*opener)(const QString &path)) {
    g_shellOpener = opener;
}

void SetConsolePresenter(ConsolePresenter presenter) {
    g_consolePresenter = presenter;
}
