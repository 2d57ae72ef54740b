#pragma once
// Stand-ins for the engine's download object and for the window, for headless scheduler tests.
// A fake task reports only what the test makes it report: inside Start through its start hook,
// or later through Finish, Fail, ReportStop and Progress.

#include "tasks/queue/DownloadTask.h"
#include "tasks/queue/SchedulerHost.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class FakeTask : public DownloadTask {
public:
    bool Running() const override { return m_running; }
    qint32 TaskId() const override { return m_taskId; }
    void SetTaskId(qint32 id) override { m_taskId = id; }
    void SetUrl(const QString &url) override;
    void SetOutput(const QString &path) override { m_output = path; }
    void SetHeaders(const QString &headers) override { m_headers = headers; }
    void SetEvents(const DownloadTaskEvents &events) override { m_events = events; }
    void Start() override;
    void Stop() override { m_stopRequested = true; }

    // Each ends the running task the way the engine does: Running is clear before the event.
    void Finish();
    void Fail(const QString &message);
    void ReportStop();
    void Progress(const QString &name, float percent, const QString &status);

    QString Url() const { return m_url; }
    QString Output() const { return m_output; }
    QString Headers() const { return m_headers; }
    bool StopRequested() const { return m_stopRequested; }
    int Starts() const { return m_starts; }
    // Runs inside Start after Running is set; the hook may end the task at once.
    std::function<void(FakeTask &)> OnStartHook;

private:
    bool m_running = false;
    qint32 m_taskId = 0;
    QString m_url;
    QString m_output;
    QString m_headers;
    bool m_stopRequested = false;
    int m_starts = 0;
    DownloadTaskEvents m_events;
};

// Hands out fakes to the scheduler and keeps a pointer to each, in creation order. The
// scheduler owns them; they live as long as it does.
class FakeTaskPool {
public:
    DownloadTaskFactory Factory();
    int Created() const { return static_cast<int>(m_tasks.size()); }
    // Applied to every task created from now on.
    std::function<void(FakeTask &)> OnStartHook;

private:
    std::vector<FakeTask *> m_tasks;
};

struct Balloon {
    QString title;
    QString text;
    int timeoutMs;
};

// Records what the window would show, in order, and answers the shut-down question as told.
class FakeHost : public SchedulerHost {
public:
    void SetStatusText(int panel, const QString &text) override;
    void ShowProgress(unsigned percent) override;
    void ShowBalloon(const QString &title, const QString &text, int timeoutMs) override;
    void PlayDoneSound() override;
    void SetStartButton(const QString &caption, const QString &glyph) override;
    void SetStartButtonEnabled(bool enabled) override;
    void BringToFront() override;
    QuestionAnswer AskYesNo(const QString &caption, const QString &text, int timeoutMs) override;
    void CloseMainWindow() override;

    QStringList log;  // one line per call: "progress 12", "caption 开始下载 STARTDL", ...
    QString panels[3];
    QList<unsigned> progress;
    QList<Balloon> balloons;
    int sounds = 0;
    QString caption;
    QString glyph;
    bool buttonEnabled = true;
    int fronts = 0;
    QStringList questions;  // "caption|text|timeout"
    QuestionAnswer answer = QuestionAnswer::No;
    int closes = 0;
};
