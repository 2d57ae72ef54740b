#pragma once
// The download queue's scheduler: it fills up to LimitTasks of the five slots with queued rows
// of the task list, takes the slots' events into the rows and, when nothing is left to do,
// returns the page to idle and optionally shuts the computer down. It needs no widgets: the page
// shows the model and implements SchedulerHost.
//
// Everything runs on one thread, and a task's Start lets pending events run, so a tick, a click
// or another slot's event may arrive in the middle of a pass. Hence: a row is marked before its
// task starts, a busy slot is skipped, and the tick disarms itself before it schedules.

#include "tasks/queue/DownloadTask.h"
#include "tasks/queue/SchedulerHost.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

class QTimer;
class TaskListModel;

// The output path a task keeps: ffmpeg merges inside the task's work folder, which is deleted
// afterwards, so a relative path is taken against `home` (and "~/" means `home`). An absolute
// path is kept as given.
QString AbsoluteOutputPath(const QString &path, const QString &home);
// `path` when `taken` says it is free, else the first free of "name (2).ext", "name (3).ext", ...
QString FreeOutputName(const QString &path, const std::function<bool(const QString &)> &taken);

class TaskScheduler : public QObject {
    Q_OBJECT
public:
    static constexpr int SlotCount = 5;
    static constexpr int DefaultTickMs = 2000;

    TaskScheduler(TaskListModel *model, SchedulerHost *host, DownloadTaskFactory factory,
                  QObject *parent = nullptr);
    ~TaskScheduler() override;

    // Settings, read at each use. A limit above SlotCount counts as SlotCount.
    quint32 LimitTasks = 1;
    bool SoundTips = true;
    bool BalloonHint = true;
    // The "下载完后关机" option; never saved.
    bool ShutdownAfterDownload = false;

    bool IsStopped() const { return Stopped; }
    void SetShutdownRunner(ShutdownRunner runner);
    // Used for slots created from now on (each slot is created on its first use).
    void SetTaskFactory(DownloadTaskFactory factory);
    // The one-shot scheduling tick "tmrDownload"; tests shorten it.
    void SetTickInterval(int ms);
    bool IsTickArmed() const;

    TaskListModel *Model() const { return m_model; }
    // Slots are 1-based; an empty slot gives nullptr.
    DownloadTask *Slot(int slot) const;

    // Positions in the list are 1-based, 0 meaning none. A relative output path is made absolute
    // against the user's home folder.
    void AddM3u8Task(const QString &url, const QString &outFile, const QString &headers);
    // The first queued row, skipping rows whose address a running slot is downloading: both
    // would share one work folder, and starting the second would wipe the first one's files.
    int GetTaskIndex() const;
    qint32 IDGenerater();
    void StartDownloadListedM3u8();
    void StopDownloadM3u8();
    int FindTaskById(qint32 taskId) const;
    bool AnyTaskRunning() const;
    // True while a running slot works in the folder that this address names.
    bool IsAddressInUse(const QString &url) const;
    // True when a row of the list names the folder of this address.
    bool IsAddressListed(const QString &url) const;

    void tmrDownloadTimer();
    void btnMStartTaskClick();
    // Whether the window may close: the first request only stops running tasks. Once a close
    // has been refused, no task starts until the start button is pressed again, so a tick that
    // was already armed cannot restart the stopped rows and refuse the next close too.
    bool FormCloseQuery();
    bool IsCloseRefused() const { return m_closeRefused; }
    // After the settings were saved: a raised limit fills the new slots at once.
    void SettingsSaved();
    // Removes the row (0-based) unless a task is working on it; returns whether it went.
    bool RemoveIdleRow(int row);
    // Clears the list: every row while downloading is off, else only the rows no task works
    // on. Renumbers what is left.
    void ClearList();
    // Empties the status of every row no task works on, so failed rows are queued again; while
    // downloading is on, the tick picks them up.
    void ClearErrorInfo();
    // Unbinds and frees the five slot objects (the window's destruction).
    void ReleaseSlots();

    void OnM3u8Error(qint32 taskId, const QString &message);
    void OnM3u8Stop(qint32 taskId);
    void OnM3u8Finish(qint32 taskId);
    void OnM3u8Progress(qint32 taskId, const QString &name, float percent, const QString &status);

    // "45.50%": two decimals, the percent as given.
    static QString PercentText(float percent);
    // The progress bar's value: nearest whole number, halves to even; never negative.
    static unsigned ProgressBarValue(float percent);

private:
    void connectModelSignals();
    void RemoveLeftFolders();
    void ArmTimer();
    void SetStartButton(bool running);
    void AllDone();
    DownloadTaskEvents BoundEvents();
    DownloadTask *TaskById(qint32 taskId) const;

    TaskListModel *m_model;
    SchedulerHost *m_host;
    DownloadTaskFactory m_factory;
    ShutdownRunner m_shutdownRunner;
    QTimer *m_tmrDownload;
    // The work folder name each slot was last given, to keep a second row off it.
    std::array<QString, SlotCount> m_slotWorkIds;
    bool m_buttonShowsStop = false;
    bool m_closeRefused = false;
    // Addresses of the rows being removed, whose kept work folders go once they have.
    QStringList m_leavingUrls;

    std::array<std::unique_ptr<DownloadTask>, SlotCount> Tasks;
    bool Stopped = true;
    quint32 TaskIdCounter = 0;
};
