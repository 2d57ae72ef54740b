#pragma once
// A slot backed by the engine's download object.

#include "tasks/queue/DownloadTask.h"

#include <memory>

class TM3u8;

class TM3u8Task : public DownloadTask {
public:
    TM3u8Task();
    ~TM3u8Task() override;

    bool Running() const override;
    qint32 TaskId() const override;
    void SetTaskId(qint32 id) override;
    void SetUrl(const QString &url) override;
    void SetOutput(const QString &path) override;
    void SetHeaders(const QString &headers) override;
    void SetEvents(const DownloadTaskEvents &events) override;
    void Start() override;
    void Stop() override;
    QString FailReason() const override;
    bool EndRecording() override;
    QString ProgressText() const override;
    QString FinishNotice() const override;

    TM3u8 &Engine() { return *m_task; }

private:
    std::unique_ptr<TM3u8> m_task;
    // Why the work folder could not be prepared; Start reports it as the task's error.
    QString m_setUrlError;
};

// The factory the main window gives the scheduler.
std::unique_ptr<DownloadTask> MakeTM3u8Task();
