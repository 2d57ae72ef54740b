#pragma once
// The main window (unit UnitFormMain): hosts the four pages, the status bar, the menu and the
// download slots, and runs the start-up and close sequences.

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>

class DropRouter;
class FileDialogs;
class SharedFileDialogs;
class IniFile;
class M3u8Page;
class MainWindowTray;
class MessageService;
class SettingsPage;
class TaskListSaver;

namespace Ui {
class TfrmMain;
}

// What the window asks of the outside world while it starts; tests replace these.
struct MainWindowSeams {
    MessageService *messages = nullptr;   // null: real message boxes
    std::function<bool()> isWin64;        // empty: the system's own answer
    QString iniPath;                      // empty: the settings file's usual place
    std::function<bool()> trayAvailable;  // empty: whether the desktop has a tray now
};

// The window font: "微软雅黑" when installed, else "宋体", else empty (keep the default).
QString PickWindowFontFamily(const std::function<bool(const QString &)> &isInstalled);

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kPageCount = 4;
    static constexpr int kM3u8Page = 2;
    // How long a signal waits for running downloads to stop before the window closes anyway.
    static constexpr int kSignalExitGraceMs = 5000;

    explicit TfrmMain(const MainWindowSeams &seams = {}, QWidget *parent = nullptr);
    ~TfrmMain() override;

    // The program's version, "1.2.3".
    static QString GetFileVersionText();

    // Start-up checks; each shows its box only when something is wrong.
    void CheckComponents();
    void CheckSystemVersion();

    // Shows page `index` modulo the page count and runs the page-change handler once.
    void SelectPage(int index);

    // The user's temporary folder, without trailing separator.
    QString AppTempDir;
    QString FFmpegPath;
    // The settings file, open for the window's whole life.
    std::unique_ptr<::IniFile> IniFile;

    // Shows `percent` modulo 101 on the progress bar and the launcher entry.
    void ShowProgress(unsigned percent);
    MainWindowTray *Tray() const { return m_tray; }
    // The window-wide drop hook; each page registers its drop targets with it.
    DropRouter *Drops() const { return m_dropRouter; }
    // The open and save dialogs every page shares.
    FileDialogs *Dialogs() const;
    // The download page; its scheduler owns the queue's slots and tick.
    M3u8Page *M3u8() const;
    // Whether the window may close: while downloads run, the first request only stops them.
    bool FormCloseQuery();
    // Keeps Tasks.dat in step with the list while the program runs.
    TaskListSaver *TaskSaver() const { return m_taskSaver.get(); }

public slots:
    // A later start of the program asks for this window: show, restore, raise and activate it.
    void WMActivateInstance();
    // Playlists or addresses the program was started with (by this copy or a later one): the
    // first goes into the download page's address field, and that page is shown.
    void OpenFiles(const QStringList &files);
    // A signal asks the program to end: leave through the normal closing path. Running downloads
    // are stopped and waited for up to kSignalExitGraceMs; then, or at a second signal, the
    // window closes whatever still runs.
    void ExitFromSignal();

signals:
    // The window has closed for real (not hidden to the tray): the program ends.
    void Closed();
    // Emitted after WMActivateInstance has brought the window forward.
    void InstanceActivated();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void connectSignals();

    void FormCreate();
    void FormShow();
    void FormResize();
    void FormDestroy();
    void TPageControl1Change(int index);
    void mnuOpenTempClick();
    void T1Click();
    void N28Click();
    void N29Click();

    SettingsPage *Settings() const;
    void ReadStartupSettings();
    void ConnectDownloadPage();
    void ConnectWorkbenchPage();
    void ConnectBatchPage();
    // Copies the settings the scheduler reads into it.
    void ApplyQueueSettings();
    QString TasksFile() const;
    void TaskListSaved(bool ok);
    void WriteExitHistory();
    void LoadTaskList();
    void ContinueSignalExit();
    // Asks before ending the workbench's running tools with the program; false to stay open.
    bool EndWorkbenchRuns();

    // The application-wide hook that hands dropped files to the page under the drop.
    void InstallDropRouting();
    void SetCaption();
    void SetWindowFont();
    void CentreOnScreen();
    void PlaceProgressBar();

    std::unique_ptr<Ui::TfrmMain> m_ui;
    MessageService *m_messages;
    std::function<bool()> m_isWin64;
    // The version that ran last, as the settings remember it; empty until one is stored.
    QString m_lastRunVersion;
    // The history fields as read, written back unchanged while the page has no edits for them.
    QString m_m3u8Url;
    QString m_m3u8Out;
    std::function<bool()> m_trayAvailable;
    QString m_iniPath;
    MainWindowTray *m_tray = nullptr;
    DropRouter *m_dropRouter = nullptr;
    std::unique_ptr<SharedFileDialogs> m_fileDialogs;
    std::unique_ptr<TaskListSaver> m_taskSaver;
    // Started by the first exit signal.
    QElapsedTimer m_signalExit;
    bool m_forceClose = false;
    bool m_taskSaveFailed = false;
};
