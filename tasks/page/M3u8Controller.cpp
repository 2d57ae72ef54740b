#include "tasks/page/M3u8Controller.h"

#include "tasks/page/M3u8Page.h"
#include "tasks/page/TimedQuestion.h"

#include <QMetaObject>
#include <QPointer>
#include <QWidget>

M3u8Controller::M3u8Controller(M3u8Page *page) : m_page(page) {}

void M3u8Controller::SetStatusText(int panel, const QString &text) {
    if (m_services.setStatusText)
        m_services.setStatusText(panel, text);
}

void M3u8Controller::ShowProgress(unsigned percent) {
    if (m_services.showProgress)
        m_services.showProgress(percent);
}

void M3u8Controller::ShowBalloon(const QString &title, const QString &text, int timeoutMs) {
    if (m_services.showBalloon)
        m_services.showBalloon(title, text, timeoutMs);
}

void M3u8Controller::PlayDoneSound() {
    if (m_services.playDoneSound)
        m_services.playDoneSound();
}

void M3u8Controller::SetStartButton(const QString &caption, const QString &glyph) {
    m_page->SetStartButton(caption, glyph);
}

void M3u8Controller::SetStartButtonEnabled(bool enabled) {
    m_page->SetStartButtonEnabled(enabled);
}

void M3u8Controller::BringToFront() {
    if (m_services.bringToFront) {
        m_services.bringToFront();
        return;
    }
    QWidget *window = m_page->window();
    window->showNormal();
    window->raise();
    window->activateWindow();
}

QuestionAnswer M3u8Controller::AskYesNo(const QString &caption, const QString &text,
                                        int timeoutMs) {
    if (m_services.askYesNo)
        return m_services.askYesNo(caption, text, timeoutMs);
    return AskTimedQuestion(m_page->window(), caption, text, timeoutMs);
}

void M3u8Controller::CloseMainWindow() {
    if (m_services.closeMainWindow) {
        m_services.closeMainWindow();
        return;
    }
    // Queued: the request comes from inside the scheduler's tick, which must finish first.
    QPointer<QWidget> window = m_page->window();
    QMetaObject::invokeMethod(
        window,
        [window] {
            if (window)
                window->close();
        },
        Qt::QueuedConnection);
}
