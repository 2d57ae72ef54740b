#include "FakeTask.h"

void FakeTask::SetUrl(const QString &url) {
    // As the engine: a new address resets the object and its headers.
    m_url = url.trimmed();
    m_headers.clear();
    m_stopRequested = false;
}

void FakeTask::Start() {
    ++m_starts;
    m_stopRequested = false;
    m_running = true;
    if (OnStartHook)
        OnStartHook(*this);
}

void FakeTask::Finish() {
    m_running = false;
    if (m_events.OnFinish)
        m_events.OnFinish(m_taskId);
}

void FakeTask::Fail(const QString &message) {
    m_running = false;
    if (m_events.OnError)
        m_events.OnError(m_taskId, message);
}

void FakeTask::ReportStop() {
    m_running = false;
    if (m_events.OnStop)
        m_events.OnStop(m_taskId);
}

void FakeTask::Progress(const QString &name, float percent, const QString &status) {
    if (m_events.OnProgress)
        m_events.OnProgress(m_taskId, name, percent, status);
}

DownloadTaskFactory FakeTaskPool::Factory() {
    return [this]() -> std::unique_ptr<DownloadTask> {
        auto task = std::make_unique<FakeTask>();
        task->OnStartHook = OnStartHook;
        m_tasks.push_back(task.get());
        return task;
    };
}

void FakeHost::SetStatusText(int panel, const QString &text) {
    if (panel >= 1 && panel <= 2)
        panels[panel] = text;
    log << QStringLiteral("panel%1 %2").arg(panel).arg(text);
}

void FakeHost::ShowProgress(unsigned percent) {
    progress << percent;
    log << QStringLiteral("progress %1").arg(percent);
}

void FakeHost::ShowBalloon(const QString &title, const QString &text, int timeoutMs) {
    balloons << Balloon{title, text, timeoutMs};
    log << QStringLiteral("balloon %1").arg(title);
}

void FakeHost::PlayDoneSound() {
    ++sounds;
    log << QStringLiteral("sound");
}

void FakeHost::SetStartButton(const QString &newCaption, const QString &newGlyph) {
    caption = newCaption;
    glyph = newGlyph;
    log << QStringLiteral("caption %1 %2").arg(newCaption, newGlyph);
}

void FakeHost::SetStartButtonEnabled(bool enabled) {
    buttonEnabled = enabled;
    log << QStringLiteral("enabled %1").arg(enabled ? 1 : 0);
}

void FakeHost::BringToFront() {
    ++fronts;
    log << QStringLiteral("front");
}

QuestionAnswer FakeHost::AskYesNo(const QString &questionCaption, const QString &text,
                                  int timeoutMs) {
    questions << QStringLiteral("%1|%2|%3").arg(questionCaption, text).arg(timeoutMs);
    log << QStringLiteral("question");
    return answer;
}

void FakeHost::CloseMainWindow() {
    ++closes;
    log << QStringLiteral("close");
}
