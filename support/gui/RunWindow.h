#pragma once
// The small window a tool runs in when the user should see it work (show code 7): opened
// minimised and without focus, it shows the tool's console output live, its title names the
// output file and, for ffmpeg, the progress in percent; it closes when the run succeeds and stays
// open after a failure with the exit status, so the user can read why.

#include "support/FfmpegProgress.h"

#include <QList>
#include <QStringDecoder>
#include <QWidget>

class QPlainTextEdit;
class QProcess;

class RunWindow : public QWidget {
    Q_OBJECT
public:
    // Takes ownership of `process`, which has not been started yet.
    explicit RunWindow(QProcess *process);
    ~RunWindow() override;

    // Starts the process in a new window; the window deletes itself on close. False (and
    // everything deleted) when the process could not be started.
    static bool Present(QProcess *process);

    // ffmpeg's output file: its last argument.
    static QString OutputOf(const QProcess &process);
    // ffmpeg's first input ("-i x"), resolved against the working directory; empty if none.
    static QString InputOf(const QProcess &process);
    QString ConsoleText() const;
    bool Failed() const { return m_failed; }
    bool Running() const;

    // The windows whose tool is still running.
    static QList<RunWindow *> RunningWindows();
    // Ends the run without waiting for it (terminate now, kill later) and removes its partial
    // output once the tool has gone; the window closes.
    void EndRun();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool Start();
    // Gives a running tool to the process reaper to end it, its partial output to be removed.
    void HandOverProcess();
    void ProbeDuration();
    void ReadConsole();
    void ReadProgress();
    void Finished(int exitCode, int exitStatus);
    void UpdateTitle();

    QProcess *m_process;
    QProcess *m_probe = nullptr;
    QPlainTextEdit *m_console;
    QString m_outputName;
    // One decoder for the whole run: a character may be split between two reads.
    QStringDecoder m_decoder{QStringDecoder::System};
    FfmpegProgress m_progress;
    int m_percent = -1;
    bool m_failed = false;
};

// Makes show code 7 of RunProcess open a RunWindow.
void InstallRunWindow();
