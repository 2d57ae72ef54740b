#pragma once
// What the scheduler uses of a download object, so a slot can hold the real engine object or a
// test's fake. Every Start that begins a task ends it with exactly one of the error, stop and
// finish events, and Running is already clear when that event arrives.

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

struct DownloadTaskEvents {
    std::function<void(qint32 taskId, const QString &message)> OnError;
    std::function<void(qint32 taskId)> OnStop;
    std::function<void(qint32 taskId)> OnFinish;
    // The percent (0 to 100) comes before the status text.
    std::function<void(qint32 taskId, const QString &name, float percent, const QString &status)>
        OnProgress;
};

class DownloadTask {
public:
    virtual ~DownloadTask() = default;

    virtual bool Running() const = 0;
    virtual qint32 TaskId() const = 0;
    virtual void SetTaskId(qint32 id) = 0;
    // Resets the object and clears its headers, so the headers are set after it.
    virtual void SetUrl(const QString &url) = 0;
    virtual void SetOutput(const QString &path) = 0;
    virtual void SetHeaders(const QString &headers) = 0;
    virtual void SetEvents(const DownloadTaskEvents &events) = 0;
    // Returns once the task has ended or handed its segment download to the background poll;
    // pending events run meanwhile.
    virtual void Start() = 0;
    // Only requests the stop; the task reports it through its stop event later.
    virtual void Stop() = 0;
    // Why the last error event came, in plain words; empty when nothing more is known.
    virtual QString FailReason() const { return QString(); }
    // Ends a recording of a live stream and has what it recorded merged (the finish event
    // follows); false, with nothing done, when the task records nothing.
    virtual bool EndRecording() { return false; }
    // What the progress column shows instead of the percent (a recording's length); empty for
    // the percent.
    virtual QString ProgressText() const { return QString(); }
    // A remark for the user on a finished task (segments a recording missed); empty for none.
    virtual QString FinishNotice() const { return QString(); }
};

// Creates the object of a slot on the slot's first use.
using DownloadTaskFactory = std::function<std::unique_ptr<DownloadTask>()>;
