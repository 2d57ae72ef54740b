#include "tasks/queue/TaskScheduler.h"

#include "support/ListViewFuncs.h"
#include "support/TextUtils.h"
#include "support/WorkFolders.h"
#include "tasks/queue/TaskListModel.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

const QString kDownloading = QStringLiteral("下载中");
const QString kStartCaption = QStringLiteral("开始下载");
const QString kStopCaption = QStringLiteral("停止任务");
const QString kStartGlyph = QStringLiteral("STARTDL");
const QString kStopGlyph = QStringLiteral("STOPDL");
const QString kErrorTitle = QStringLiteral("任务出错");
const QString kFinishTitle = QStringLiteral("任务完成");
const QString kShutdownCaption = QStringLiteral("任务下载完成后关机");
const QString kShutdownQuestion = QStringLiteral("是否需要关机？");
constexpr int kBalloonMs = 3000;
constexpr int kQuestionTimeoutMs = 10000;

QString FileNamePart(const QString &path) {
    return QFileInfo(path).fileName();
}

}  // namespace

QString AbsoluteOutputPath(const QString &path, const QString &home) {
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return path;
    QString relative = path;
    if (relative.startsWith(QLatin1String("~/")))
        relative.remove(0, 2);
    return QDir::cleanPath(QDir(home).filePath(relative));
}

QString FreeOutputName(const QString &path, const std::function<bool(const QString &)> &taken) {
    if (!taken(path))
        return path;
    // "name.mp4" becomes "name (2).mp4": the number goes before the extension of the file name,
    // never into a folder name that holds a dot.
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1)
        dot = path.size();
    for (int n = 2;; ++n) {
        const QString candidate = path.left(dot) + QStringLiteral(" (%1)").arg(n) + path.mid(dot);
        if (!taken(candidate))
            return candidate;
    }
}

TaskScheduler::TaskScheduler(TaskListModel *model, SchedulerHost *host, DownloadTaskFactory factory,
                             QObject *parent)
    : QObject(parent),
      m_model(model),
      m_host(host),
      m_factory(std::move(factory)),
      m_shutdownRunner(RunSystemShutdown),
      m_tmrDownload(new QTimer(this)) {
    m_tmrDownload->setObjectName(QStringLiteral("tmrDownload"));
    m_tmrDownload->setSingleShot(true);
    m_tmrDownload->setInterval(DefaultTickMs);
    connect(m_tmrDownload, &QTimer::timeout, this, &TaskScheduler::tmrDownloadTimer);
    connectModelSignals();
}

// A stopped task keeps its work folder to resume from; a row leaving the list takes its folder
// along, whichever command removed it.
void TaskScheduler::connectModelSignals() {
    connect(m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int last) {
                for (int row = first; row <= last; ++row)
                    m_leavingUrls << m_model->Field(row, TaskListModel::ColUrl);
            });
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        for (int row = 0; row < m_model->Count(); ++row)
            m_leavingUrls << m_model->Field(row, TaskListModel::ColUrl);
    });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &TaskScheduler::RemoveLeftFolders);
    connect(m_model, &QAbstractItemModel::modelReset, this, &TaskScheduler::RemoveLeftFolders);
}

void TaskScheduler::RemoveLeftFolders() {
    const QStringList urls = std::exchange(m_leavingUrls, QStringList());
    for (const QString &url : urls) {
        if (!IsAddressInUse(url) && !IsAddressListed(url))
            RemoveKeptWorkDir(url);
    }
}

bool TaskScheduler::IsAddressListed(const QString &url) const {
    const QString workId = WorkIdFor(url);
    for (int row = 0; row < m_model->Count(); ++row) {
        if (WorkIdFor(m_model->Field(row, TaskListModel::ColUrl)) == workId)
            return true;
    }
    return false;
}

TaskScheduler::~TaskScheduler() {
    ReleaseSlots();
}

void TaskScheduler::SetShutdownRunner(ShutdownRunner runner) {
    m_shutdownRunner = std::move(runner);
}

void TaskScheduler::SetTaskFactory(DownloadTaskFactory factory) {
    m_factory = std::move(factory);
}

void TaskScheduler::SetTickInterval(int ms) {
    m_tmrDownload->setInterval(ms);
}

bool TaskScheduler::IsTickArmed() const {
    return m_tmrDownload->isActive();
}

DownloadTask *TaskScheduler::Slot(int slot) const {
    if (slot < 1 || slot > SlotCount)
        return nullptr;
    return Tasks[slot - 1].get();
}

void TaskScheduler::AddM3u8Task(const QString &url, const QString &outFile,
                                const QString &headers) {
    const QString address = url.trimmed();
    const QString output = AbsoluteOutputPath(outFile.trimmed(), QDir::homePath());
    if (address.isEmpty() || output.isEmpty())
        return;
    // Two rows writing one file would overwrite each other, and a failed merge of one would
    // remove the other's finished file.
    const QString unique = FreeOutputName(output, [this](const QString &candidate) {
        for (int row = 0; row < m_model->Count(); ++row) {
            if (m_model->Field(row, TaskListModel::ColFile) == candidate)
                return true;
        }
        return false;
    });
    m_model->AppendRow(QString::number(m_model->Count() + 1), unique, address, headers);
    if (!Stopped)
        ArmTimer();
}

int TaskScheduler::GetTaskIndex() const {
    for (int row = 0; row < m_model->Count(); ++row) {
        if (!m_model->IsRowQueued(row))
            continue;
        if (IsAddressInUse(m_model->Field(row, TaskListModel::ColUrl)))
            continue;
        return row + 1;
    }
    return 0;
}

qint32 TaskScheduler::IDGenerater() {
    // IDs stay positive and are never reused within a run.
    TaskIdCounter = TaskIdCounter % quint32(std::numeric_limits<qint32>::max()) + 1;
    return static_cast<qint32>(TaskIdCounter);
}

bool TaskScheduler::IsAddressInUse(const QString &url) const {
    const QString workId = WorkIdFor(url);
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (Tasks[slot] && Tasks[slot]->Running() && m_slotWorkIds[slot] == workId)
            return true;
    }
    return false;
}

void TaskScheduler::StartDownloadListedM3u8() {
    if (m_closeRefused)
        return;
    const int limit = static_cast<int>(std::min<quint32>(LimitTasks, SlotCount));
    for (int slot = 0; slot < limit; ++slot) {
        const int position = GetTaskIndex();
        if (position == 0)
            break;
        std::unique_ptr<DownloadTask> &task = Tasks[slot];
        if (!task) {
            task = m_factory();
            if (!task)
                continue;
        }
        if (task->Running())
            continue;

        const int row = position - 1;
        const QString url = m_model->Field(row, TaskListModel::ColUrl);
        const qint32 id = IDGenerater();
        task->SetTaskId(id);
        task->SetUrl(url);
        task->SetOutput(m_model->Field(row, TaskListModel::ColFile));
        task->SetHeaders(m_model->Field(row, TaskListModel::ColHeaders));
        task->SetEvents(BoundEvents());
        m_slotWorkIds[slot] = WorkIdFor(url);
        // Marked before Start, so a pass that runs inside Start takes the next row instead.
        m_model->SetField(row, TaskListModel::ColId, QString::number(id));
        m_model->SetField(row, TaskListModel::ColStatus, kDownloading);
        m_model->SetField(row, TaskListModel::ColProgress, QStringLiteral("0%"));
        task->Start();
    }
}

// A recording is ended and merged rather than stopped: it cannot be resumed later, so a stop
// would only throw away what it recorded.
void TaskScheduler::StopDownloadM3u8() {
    for (const std::unique_ptr<DownloadTask> &task : Tasks) {
        if (task && !task->EndRecording())
            task->Stop();
    }
}

DownloadTask *TaskScheduler::TaskById(qint32 taskId) const {
    for (const std::unique_ptr<DownloadTask> &task : Tasks) {
        if (task && task->TaskId() == taskId)
            return task.get();
    }
    return nullptr;
}

int TaskScheduler::FindTaskById(qint32 taskId) const {
    for (int row = 0; row < m_model->Count(); ++row) {
        const QString id = m_model->Field(row, TaskListModel::ColId);
        if (id.isEmpty())
            continue;
        bool ok = false;
        const qlonglong value = id.toLongLong(&ok, 10);
        if (ok && value == taskId)
            return row + 1;
    }
    return 0;
}

bool TaskScheduler::AnyTaskRunning() const {
    return std::any_of(Tasks.begin(), Tasks.end(), [](const std::unique_ptr<DownloadTask> &task) {
        return task && task->Running();
    });
}

void TaskScheduler::tmrDownloadTimer() {
    m_tmrDownload->stop();
    if (!Stopped)
        StartDownloadListedM3u8();
    if (m_model->Count() > 0 && (GetTaskIndex() != 0 || AnyTaskRunning()))
        return;
    AllDone();
}

void TaskScheduler::AllDone() {
    SetStartButton(false);
    m_host->ShowProgress(0);
    m_host->SetStatusText(1, QString());
    m_host->SetStatusText(2, QString());
    Stopped = true;
    m_host->BringToFront();
    if (!ShutdownAfterDownload)
        return;
    const QuestionAnswer answer =
        m_host->AskYesNo(kShutdownCaption, kShutdownQuestion, kQuestionTimeoutMs);
    if (answer == QuestionAnswer::No)
        return;
    const ShutdownCommand command = SystemShutdownCommand();
    if (m_shutdownRunner)
        m_shutdownRunner(command.program, command.arguments);
    m_host->CloseMainWindow();
}

void TaskScheduler::btnMStartTaskClick() {
    if (m_model->Count() == 0)
        return;
    m_host->SetStartButtonEnabled(false);
    if (m_buttonShowsStop) {
        Stopped = true;
        StopDownloadM3u8();
        m_host->ShowProgress(0);
        m_host->SetStatusText(1, QString());
        m_host->SetStatusText(2, QString());
        SetStartButton(false);
    } else {
        m_closeRefused = false;
        SetStartButton(true);
        Stopped = false;
        StartDownloadListedM3u8();
        ArmTimer();
    }
    m_host->SetStartButtonEnabled(true);
}

bool TaskScheduler::FormCloseQuery() {
    if (!Stopped)
        StopDownloadM3u8();
    if (!AnyTaskRunning())
        return true;
    m_closeRefused = true;
    return false;
}

void TaskScheduler::SettingsSaved() {
    if (!Stopped)
        StartDownloadListedM3u8();
}

bool TaskScheduler::RemoveIdleRow(int row) {
    if (row < 0 || row >= m_model->Count() || m_model->IsRowRunning(row))
        return false;
    m_model->RemoveRow(row);
    return true;
}

void TaskScheduler::ClearList() {
    const int count = m_model->Count();
    if (count == 0)
        return;
    if (Stopped) {
        m_model->removeRows(0, count);
        return;
    }
    for (int row = count - 1; row >= 0; --row) {
        if (!m_model->IsRowRunning(row))
            m_model->RemoveRow(row);
    }
    RenumberColumn(m_model, TaskListModel::ColNumber + 1);
}

void TaskScheduler::ClearErrorInfo() {
    for (int row = 0; row < m_model->Count(); ++row) {
        // A running row's status is its live progress.
        if (!m_model->IsRowRunning(row))
            m_model->SetField(row, TaskListModel::ColStatus, QString());
    }
    if (!Stopped && m_model->Count() > 0)
        ArmTimer();
}

void TaskScheduler::ReleaseSlots() {
    for (std::unique_ptr<DownloadTask> &task : Tasks) {
        if (!task)
            continue;
        // A late event of a freed slot must not reach a scheduler that is going away.
        task->SetEvents(DownloadTaskEvents());
        task.reset();
    }
}

void TaskScheduler::OnM3u8Error(qint32 taskId, const QString &message) {
    const int position = FindTaskById(taskId);
    if (position == 0)
        return;
    const int row = position - 1;
    m_model->SetField(row, TaskListModel::ColId, QString());
    m_model->SetField(row, TaskListModel::ColStatus, message);
    for (const std::unique_ptr<DownloadTask> &task : Tasks) {
        if (task && task->TaskId() == taskId)
            m_model->SetReason(row, task->FailReason());
    }
    if (BalloonHint) {
        const QString file = FileNamePart(m_model->Field(row, TaskListModel::ColFile));
        m_host->ShowBalloon(kErrorTitle, file + QChar(10) + message, kBalloonMs);
    }
    ArmTimer();
}

void TaskScheduler::OnM3u8Stop(qint32 taskId) {
    const int position = FindTaskById(taskId);
    if (position == 0)
        return;
    const int row = position - 1;
    m_model->SetField(row, TaskListModel::ColId, QString());
    m_model->SetField(row, TaskListModel::ColStatus, QString());
    m_model->SetField(row, TaskListModel::ColProgress, QString());
}

void TaskScheduler::OnM3u8Finish(qint32 taskId) {
    const int position = FindTaskById(taskId);
    if (position == 0)
        return;
    const int row = position - 1;
    if (BalloonHint) {
        const QString file = FileNamePart(m_model->Field(row, TaskListModel::ColFile));
        const DownloadTask *task = TaskById(taskId);
        const QString notice = task ? task->FinishNotice() : QString();
        m_host->ShowBalloon(kFinishTitle, notice.isEmpty() ? file : file + QChar(10) + notice,
                            kBalloonMs);
    }
    m_model->RemoveRow(row);
    if (SoundTips)
        m_host->PlayDoneSound();
    ArmTimer();
}

void TaskScheduler::OnM3u8Progress(qint32 taskId, const QString &name, float percent,
                                   const QString &status) {
    const int position = FindTaskById(taskId);
    if (position == 0)
        return;
    const int row = position - 1;
    const DownloadTask *task = TaskById(taskId);
    const QString shown = task ? task->ProgressText() : QString();
    const QString percentText = shown.isEmpty() ? PercentText(percent) : shown;
    m_model->SetField(row, TaskListModel::ColStatus, status);
    m_model->SetField(row, TaskListModel::ColProgress, percentText);
    m_host->SetStatusText(1, name);
    m_host->SetStatusText(2, status + QLatin1Char(' ') + percentText);
    m_host->ShowProgress(ProgressBarValue(percent));
}

QString TaskScheduler::PercentText(float percent) {
    return QString::number(static_cast<double>(percent), 'f', 2) + QLatin1Char('%');
}

unsigned TaskScheduler::ProgressBarValue(float percent) {
    const double value = static_cast<double>(percent);
    if (!(value > 0))
        return 0;
    constexpr double kMax = 1e9;
    if (value >= kMax)
        return static_cast<unsigned>(kMax);
    const double floor = std::floor(value);
    const double fraction = value - floor;
    auto whole = static_cast<unsigned>(floor);
    if (fraction > 0.5 || (fraction == 0.5 && whole % 2 == 1))
        ++whole;
    return whole;
}

void TaskScheduler::ArmTimer() {
    // Arming an armed tick keeps its due time, as re-enabling a running timer does.
    if (!m_tmrDownload->isActive())
        m_tmrDownload->start();
}

void TaskScheduler::SetStartButton(bool running) {
    m_buttonShowsStop = running;
    if (running)
        m_host->SetStartButton(kStopCaption, kStopGlyph);
    else
        m_host->SetStartButton(kStartCaption, kStartGlyph);
}

DownloadTaskEvents TaskScheduler::BoundEvents() {
    DownloadTaskEvents events;
    events.OnError = [this](qint32 id, const QString &message) { OnM3u8Error(id, message); };
    events.OnStop = [this](qint32 id) { OnM3u8Stop(id); };
    events.OnFinish = [this](qint32 id) { OnM3u8Finish(id); };
    events.OnProgress = [this](qint32 id, const QString &name, float percent,
                               const QString &status) {
        OnM3u8Progress(id, name, percent, status);
    };
    return events;
}
