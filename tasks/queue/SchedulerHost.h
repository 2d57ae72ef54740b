#pragma once
// Everything the scheduler reaches outside its rows: the page and the main window implement it,
// tests record it. Nothing here may block a test on a modal box.

#include <QString>
#include <QStringList>

#include <functional>

enum class QuestionAnswer { Yes, No, TimedOut };

class SchedulerHost {
public:
    virtual ~SchedulerHost() = default;

    // Status bar panels 1 and 2.
    virtual void SetStatusText(int panel, const QString &text) = 0;
    // The progress bar and the taskbar button; the value is a whole percent.
    virtual void ShowProgress(unsigned percent) = 0;
    virtual void ShowBalloon(const QString &title, const QString &text, int timeoutMs) = 0;
    // The completion sound "DONE".
    virtual void PlayDoneSound() = 0;
    // The start button: caption and glyph resource name.
    virtual void SetStartButton(const QString &caption, const QString &glyph) = 0;
    virtual void SetStartButtonEnabled(bool enabled) = 0;
    // Show, restore to normal size, focus and raise the main window.
    virtual void BringToFront() = 0;
    // A Yes/No question with the question icon that closes itself after timeoutMs.
    virtual QuestionAnswer AskYesNo(const QString &caption, const QString &text, int timeoutMs) = 0;
    virtual void CloseMainWindow() = 0;
};

// Runs the system shut-down command, detached and without a window.
using ShutdownRunner = std::function<void(const QString &program, const QStringList &arguments)>;

struct ShutdownCommand {
    QString program;
    QStringList arguments;
};

// The command that powers the computer off shortly after the downloads finish.
ShutdownCommand SystemShutdownCommand();

// Starts the command for real. Refuses while the process runs under the test harness
// (KORVI_TEST set), so a test that forgets to inject its own runner shuts nothing down.
void RunSystemShutdown(const QString &program, const QStringList &arguments);
