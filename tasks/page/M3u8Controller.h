#pragma once
// The window side of the scheduler: the status bar, the progress bar, the notices, the question
// box and the window itself, reached through functions the main window hands over. Whatever the
// window does not provide is skipped, except the question box and raising or closing the window,
// which have sound defaults of their own.

#include "tasks/queue/SchedulerHost.h"

#include <QString>

#include <functional>

class M3u8Page;

struct M3u8WindowServices {
    std::function<void(int panel, const QString &text)> setStatusText;
    std::function<void(unsigned percent)> showProgress;
    std::function<void(const QString &title, const QString &text, int timeoutMs)> showBalloon;
    std::function<void()> playDoneSound;
    std::function<void()> bringToFront;
    std::function<QuestionAnswer(const QString &caption, const QString &text, int timeoutMs)>
        askYesNo;
    std::function<void()> closeMainWindow;
    // The setting "不以m3u文件名为前缀", read at each list import.
    std::function<bool()> noM3uPreName;
};

class M3u8Controller : public SchedulerHost {
public:
    explicit M3u8Controller(M3u8Page *page);

    void SetServices(const M3u8WindowServices &services) { m_services = services; }
    const M3u8WindowServices &Services() const { return m_services; }

    void SetStatusText(int panel, const QString &text) override;
    void ShowProgress(unsigned percent) override;
    void ShowBalloon(const QString &title, const QString &text, int timeoutMs) override;
    void PlayDoneSound() override;
    void SetStartButton(const QString &caption, const QString &glyph) override;
    void SetStartButtonEnabled(bool enabled) override;
    void BringToFront() override;
    QuestionAnswer AskYesNo(const QString &caption, const QString &text, int timeoutMs) override;
    void CloseMainWindow() override;

private:
    M3u8Page *m_page;
    M3u8WindowServices m_services;
};
