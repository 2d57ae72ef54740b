#pragma once
// SIGTERM, SIGINT and SIGHUP (the session ending, Ctrl+C, a closed terminal) end the program
// through its normal exit path, so the settings history and the task list are written and the
// tools it started are ended. The handler only writes the signal's number into a pipe; a socket
// notifier reads it on the event loop, where the window may do anything.

#include <QObject>

class QSocketNotifier;

class ExitSignalWatcher : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; one watcher at a time. The destructor restores the defaults.
    explicit ExitSignalWatcher(QObject *parent = nullptr);
    ~ExitSignalWatcher() override;

    bool IsInstalled() const { return m_notifier != nullptr; }

signals:
    void ExitRequested(int signalNumber);

private:
    void ReadSignal();

    QSocketNotifier *m_notifier = nullptr;
};
