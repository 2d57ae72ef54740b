#include "tasks/queue/TM3u8Task.h"

#include "hls/TM3u8Class.h"
#include "hls/TM3u8Status.h"

#include <exception>

TM3u8Task::TM3u8Task() : m_task(std::make_unique<TM3u8>()) {}

TM3u8Task::~TM3u8Task() = default;

bool TM3u8Task::Running() const {
    return m_task->Running;
}

qint32 TM3u8Task::TaskId() const {
    return m_task->TaskId;
}

void TM3u8Task::SetTaskId(qint32 id) {
    m_task->TaskId = id;
}

void TM3u8Task::SetUrl(const QString &url) {
    m_setUrlError.clear();
    // An exception must not unwind through the scheduler's tick into the event loop; the row
    // shows the failure instead and is not picked again.
    try {
        m_task->SetUrl(url);
    } catch (const std::exception &error) {
        m_setUrlError = QString::fromLocal8Bit(error.what());
        if (m_setUrlError.isEmpty())
            m_setUrlError = QStringLiteral("error");
    }
}

void TM3u8Task::SetOutput(const QString &path) {
    m_task->SetOutput(path);
}

void TM3u8Task::SetHeaders(const QString &headers) {
    m_task->Headers = headers;
}

void TM3u8Task::SetEvents(const DownloadTaskEvents &events) {
    m_task->OnError = events.OnError;
    m_task->OnStop = events.OnStop;
    m_task->OnFinish = events.OnFinish;
    m_task->OnProgress = events.OnProgress;
}

void TM3u8Task::Start() {
    if (!m_setUrlError.isEmpty()) {
        if (m_task->OnError)
            m_task->OnError(m_task->TaskId, m_setUrlError);
        return;
    }
    m_task->Start();
}

void TM3u8Task::Stop() {
    m_task->Stop();
}

QString TM3u8Task::FailReason() const {
    return m_task->FailReason;
}

bool TM3u8Task::EndRecording() {
    return m_task->EndRecording();
}

QString TM3u8Task::ProgressText() const {
    return m_task->Recording && m_task->Running && !m_task->Merging
               ? TM3u8Status::RecordedLengthText(m_task->RecordedSeconds())
               : QString();
}

QString TM3u8Task::FinishNotice() const {
    return m_task->LiveMissed > 0
               ? QStringLiteral("录制时有 %1 个分段在下载前已移出直播列表").arg(m_task->LiveMissed)
               : QString();
}

std::unique_ptr<DownloadTask> MakeTM3u8Task() {
    return std::make_unique<TM3u8Task>();
}
