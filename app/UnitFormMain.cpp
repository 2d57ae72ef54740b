#include "app/UnitFormMain.h"

#include "app/AppTitle.h"
#include "app/FieldLabels.h"
#include "app/MessageService.h"
#include "app/config/IniFile.h"
#include "app/config/Settings.h"
#include "app/help/HelpTexts.h"
#include "app/notify/MainWindowTray.h"
#include "app/notify/Notices.h"
#include "app/notify/ProgressNotice.h"
#include "app/notify/Taskbar.h"
#include "app/settings/SettingsPage.h"
#include "batch/BatchPage.h"
#include "batch/DropRouter.h"
#include "hls/EngineNotice.h"
#include "resources/KorviResources.h"
#include "support/ExternalTools.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"
#include "support/WorkFolders.h"
#include "support/gui/FileDialogs.h"
#include "support/gui/GuiUtils.h"
#include "support/gui/RunWindow.h"
#include "tasks/page/M3u8Page.h"
#include "tasks/queue/TaskListModel.h"
#include "tasks/queue/TaskScheduler.h"
#include "tasks/queue/TaskStore.h"
#include "ui_UnitFormMain.h"
#include "workbench/WorkbenchPage.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>

namespace {

const QString kContactAddress = QStringLiteral("korvi@example.com");
constexpr int kSignalExitPollMs = 100;

}  // namespace

QString PickWindowFontFamily(const std::function<bool(const QString &)> &isInstalled) {
    for (const QString &family : {QStringLiteral("微软雅黑"), QStringLiteral("宋体")}) {
        if (isInstalled(family)) {
            return family;
        }
    }
    return QString();
}

TfrmMain::TfrmMain(const MainWindowSeams &seams, QWidget *parent)
    : QMainWindow(parent),
      m_ui(new Ui::TfrmMain),
      m_messages(seams.messages != nullptr ? seams.messages : &DefaultMessageService()),
      m_isWin64(seams.isWin64 ? seams.isWin64 : std::function<bool()>(IsWin64)),
      m_trayAvailable(seams.trayAvailable),
      m_iniPath(seams.iniPath.isEmpty() ? IniFile::DefaultLocation() : seams.iniPath) {
    InitKorviResources();
    m_ui->setupUi(this);
    // The download engine's one error box ("ffmpeg.exe 缺失!") is shown over this window.
    SetEngineNotice([this](const QString &text, const QString &caption) {
        m_messages->ShowError(this, caption, text);
    });
    connectSignals();
    FormCreate();
}

TfrmMain::~TfrmMain() {
    FormDestroy();
    SetEngineNotice({});
}

void TfrmMain::connectSignals() {
    connect(m_ui->TPageControl1, &QTabWidget::currentChanged, this, &TfrmMain::TPageControl1Change);
    connect(m_ui->mnuOpenTemp, &QAction::triggered, this, &TfrmMain::mnuOpenTempClick);
    connect(m_ui->T1, &QAction::triggered, this, &TfrmMain::T1Click);
    connect(m_ui->N28, &QAction::triggered, this, &TfrmMain::N28Click);
    connect(m_ui->N29, &QAction::triggered, this, &TfrmMain::N29Click);
    m_ui->mnuM3u8->addActions(
        {M3u8()->ImportListAction(), M3u8()->ClipboardImportAction(), M3u8()->ShutdownAction()});
}

QString TfrmMain::GetFileVersionText() {
    return QStringLiteral(KORVI_VERSION);
}

void TfrmMain::FormCreate() {
    SetCaption();
    InitTaskbarList();
    m_tray = new MainWindowTray(this, m_trayAvailable);
    IniFile = std::make_unique<::IniFile>(m_iniPath);
    AppTempDir = GetTempDir();
    FFmpegPath = ExternalTools::Instance().FFmpegPath();
    if (FFmpegPath.isEmpty()) {
        // Keep a path even without the tool, so a later run names what is missing.
        FFmpegPath = ExternalTools::Instance().ProgramDirectory() + QStringLiteral("/ffmpeg");
    }
    Settings()->FillTaskLimits();
    ConnectDownloadPage();
    ReadStartupSettings();
    if (IniFile->Unreadable()) {
        m_messages->ShowWarning(
            this, QString::fromLatin1(kAppTitle),
            QStringLiteral("无法读取设置文件：\n%1\n本次运行使用默认设置，且不会改写该文件。")
                .arg(QDir::toNativeSeparators(IniFile->FileName())));
    }
    SetWindowFont();
    ApplyFieldLabelColours(this);
    CentreOnScreen();
    PlaceProgressBar();
    InstallDropRouting();
    ConnectWorkbenchPage();
    ConnectBatchPage();
    LoadTaskList();
    CheckComponents();
    if (m_lastRunVersion != GetFileVersionText()) {
        CheckSystemVersion();
    }
}

void TfrmMain::InstallDropRouting() {
    m_dropRouter = new DropRouter(this);
    m_dropRouter->Install();
    M3u8()->RegisterDropTargets(*m_dropRouter);
}

void TfrmMain::ConnectWorkbenchPage() {
    m_fileDialogs = std::make_unique<SharedFileDialogs>(this);
    m_ui->TabSheet1->SetMessages(m_messages);
    m_ui->TabSheet1->SetFileDialogs(m_fileDialogs.get());
    m_ui->TabSheet1->SetFFmpegPath(FFmpegPath);
    m_ui->TabSheet1->RegisterDropTargets(*m_dropRouter);
}

void TfrmMain::ConnectBatchPage() {
    BatchPage *page = m_ui->TabSheet2;
    page->SetMessages(m_messages);
    page->SetFileDialogs(m_fileDialogs.get());
    page->SetFFmpegPath(FFmpegPath);
    page->SetAppTempDir(AppTempDir);
    BatchWindowServices services;
    services.setStatusText = [this](int panel, const QString &text) {
        m_ui->StatusBar1->SetPanelText(panel, text);
    };
    services.showProgress = [this](unsigned percent) { ShowProgress(percent); };
    page->SetWindowServices(services);
    page->RegisterDropTargets(*m_dropRouter);
}

FileDialogs *TfrmMain::Dialogs() const {
    return m_fileDialogs.get();
}

void TfrmMain::LoadTaskList() {
    // Loaded while the scheduler is idle: nothing starts before the start button.
    bool unreadable = false;
    LoadTasks(*M3u8()->Scheduler(), TasksFile(), &unreadable);
    // Made after the load, which only repeats what the file holds.
    m_taskSaver = std::make_unique<TaskListSaver>(M3u8()->Model(), TasksFile());
    connect(m_taskSaver.get(), &TaskListSaver::Saved, this, &TfrmMain::TaskListSaved);
    if (!unreadable) {
        // Work folders kept for resuming that no loaded row will come back to.
        QStringList urls;
        const TaskListModel *model = M3u8()->Model();
        for (int row = 0; row < model->Count(); ++row)
            urls << model->Field(row, TaskListModel::ColUrl);
        RemoveUnreferencedWorkDirs(urls);
        return;
    }
    m_taskSaver->SetBlocked(true);
    m_messages->ShowWarning(
        this, QString::fromLatin1(kAppTitle),
        QStringLiteral(
            "无法读取任务列表文件：\n%1\n本次运行不会改写该文件，新添加的任务不会被保存。")
            .arg(QDir::toNativeSeparators(TasksFile())));
}

// A save that fails (a full disk, a folder made read-only) loses what changed since at the next
// start; the user hears of it once, and again only after a save has succeeded in between.
void TfrmMain::TaskListSaved(bool ok) {
    if (ok || m_taskSaveFailed) {
        m_taskSaveFailed = !ok;
        return;
    }
    m_taskSaveFailed = true;
    m_messages->ShowWarning(
        this, QString::fromLatin1(kAppTitle),
        QStringLiteral(
            "无法保存任务列表文件：\n%1\n请检查磁盘空间和文件夹的写入权限；保存成功之前，"
            "任务列表的改动在下次启动时会丢失。")
            .arg(QDir::toNativeSeparators(TasksFile())));
}

void TfrmMain::SetCaption() {
    setWindowTitle(QString::fromLatin1(kAppTitle) + QStringLiteral(" v") + GetFileVersionText() +
                   QStringLiteral("   ") + kContactAddress);
}

void TfrmMain::SetWindowFont() {
    const QString family = PickWindowFontFamily(IsFontInstalled);
    if (!family.isEmpty()) {
        setFont(QFont(family, 9));
    }
}

void TfrmMain::CentreOnScreen() {
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    QRect frame = geometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void TfrmMain::PlaceProgressBar() {
    QProgressBar *bar = m_ui->ProgressBar1;
    if (bar->parentWidget() != m_ui->StatusBar1) {
        bar->setParent(m_ui->StatusBar1);
        bar->show();
    }
    bar->setGeometry(m_ui->StatusBar1->PanelRect(3));
}

void TfrmMain::FormResize() {
    m_ui->StatusBar1->SetPanelWidths(m_ui->StatusBar1->width() / PanelStatusBar::kPanelCount);
    PlaceProgressBar();
}

void TfrmMain::FormShow() {
    ApplyFieldLabelColours(this);
}

void TfrmMain::FormDestroy() {
    WriteExitHistory();
    IniFile.reset();
    M3u8()->Scheduler()->ReleaseSlots();
    if (m_taskSaver) {
        // No box while the window goes.
        m_taskSaver->disconnect(this);
        m_taskSaver->SaveNow();
        m_taskSaver.reset();
    }
    ReleaseTaskbarList();
}

M3u8Page *TfrmMain::M3u8() const {
    return m_ui->TabSheet3;
}

QString TfrmMain::TasksFile() const {
    return TasksFilePath(QFileInfo(m_iniPath).absolutePath());
}

void TfrmMain::ConnectDownloadPage() {
    M3u8WindowServices services;
    services.setStatusText = [this](int panel, const QString &text) {
        m_ui->StatusBar1->SetPanelText(panel, text);
    };
    services.showProgress = [this](unsigned percent) { ShowProgress(percent); };
    services.noM3uPreName = [] { return ::NoM3uPreName; };
    services.showBalloon = [](const QString &title, const QString &text, int timeoutMs) {
        ::ShowBalloon(title, text, timeoutMs);
    };
    services.playDoneSound = [] { NoticeDoneSound(); };
    services.bringToFront = [this] {
        show();
        setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
        raise();
        activateWindow();
    };
    // Queued: the request comes from inside the scheduler's tick. Through the tray so the close
    // is not turned into hiding the window.
    services.closeMainWindow = [this] {
        QMetaObject::invokeMethod(
            this, [this] { m_tray->RequestExit(); }, Qt::QueuedConnection);
    };
    M3u8()->SetWindowServices(services);
}

void TfrmMain::ApplyQueueSettings() {
    TaskScheduler *scheduler = M3u8()->Scheduler();
    scheduler->LimitTasks = ::LimitTasks;
    scheduler->SoundTips = ::SoundTips;
    scheduler->BalloonHint = ::BalloonHint;
}

bool TfrmMain::FormCloseQuery() {
    return M3u8()->Scheduler()->FormCloseQuery();
}

void TfrmMain::closeEvent(QCloseEvent *event) {
    if (!EndWorkbenchRuns()) {
        event->ignore();
        return;
    }
    if (!m_forceClose && !FormCloseQuery()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        emit Closed();
    }
}

bool TfrmMain::EndWorkbenchRuns() {
    const QList<RunWindow *> runs = RunWindow::RunningWindows();
    if (runs.isEmpty())
        return true;
    // A signal has no one to answer; the user is asked, as ending a run loses its output.
    if (!m_signalExit.isValid() &&
        !m_messages->AskYesNo(
            this, QString::fromLatin1(kAppTitle),
            QStringLiteral("还有 %1 个转码任务正在运行，退出将结束它们并删除未完成的"
                           "输出文件。\n是否退出？")
                .arg(runs.size())))
        return false;
    for (RunWindow *run : runs)
        run->EndRun();
    return true;
}

void TfrmMain::ExitFromSignal() {
    if (m_signalExit.isValid()) {
        // A second signal: the user will not wait.
        m_forceClose = true;
        m_tray->RequestExit();
        return;
    }
    m_signalExit.start();
    ContinueSignalExit();
}

void TfrmMain::ContinueSignalExit() {
    if (m_signalExit.elapsed() >= kSignalExitGraceMs) {
        m_forceClose = true;
    }
    // The close query stops the downloads and keeps new ones from starting; their stop events
    // arrive on the event loop, so ask again shortly.
    if (m_tray->RequestExit()) {
        return;
    }
    QTimer::singleShot(kSignalExitPollMs, this, &TfrmMain::ContinueSignalExit);
}

void TfrmMain::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    FormShow();
}

void TfrmMain::resizeEvent(QResizeEvent *event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TfrmMain::CheckComponents() {
    const ExternalTools &tools = ExternalTools::Instance();
    const bool hasFFmpeg = !tools.FFmpegPath().isEmpty();
    const bool hasAria2 = !tools.Aria2Path().isEmpty();
    if (hasFFmpeg && hasAria2) {
        return;
    }
    QString text;
    if (!hasFFmpeg && !hasAria2) {
        text = QStringLiteral("请不要删除ffmpeg.exe和aria2c.exe");
    } else if (!hasAria2) {
        text = QStringLiteral("请不要删除aria2c.exe");
    } else {
        text = QStringLiteral("请不要删除ffmpeg.exe");
    }
    m_messages->ShowError(this, QString::fromLatin1(kAppTitle) + QStringLiteral("组件缺失"), text);
}

void TfrmMain::CheckSystemVersion() {
    if (m_isWin64()) {
        return;
    }
    m_messages->ShowWarning(this, QString::fromLatin1(kAppTitle) + QStringLiteral(" 系统版本"),
                            QStringLiteral("32位系统需要自行替换32位的 ffmpeg 和 aria2"));
}

void TfrmMain::SelectPage(int index) {
    const int page = ((index % kPageCount) + kPageCount) % kPageCount;
    QSignalBlocker blocker(m_ui->TPageControl1);
    m_ui->TPageControl1->setCurrentIndex(page);
    blocker.unblock();
    TPageControl1Change(page);
}

void TfrmMain::TPageControl1Change(int index) {
    m_ui->mnuM3u8->menuAction()->setVisible(index == kM3u8Page);
}

void TfrmMain::mnuOpenTempClick() {
    OpenWithShell(AppTempDir);
}

void TfrmMain::WMActivateInstance() {
    show();
    if (isMinimized()) {
        // Clearing only the minimised flag brings a maximised window back maximised.
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    raise();
    activateWindow();
    emit InstanceActivated();
}

void TfrmMain::OpenFiles(const QStringList &files) {
    if (files.isEmpty())
        return;
    m_ui->TPageControl1->setCurrentWidget(M3u8());
    M3u8()->OpenAddress(files.first());
}

SettingsPage *TfrmMain::Settings() const {
    return m_ui->TabSheet4;
}

void TfrmMain::ReadStartupSettings() {
    const SettingsValues values = ::ReadSettings(*IniFile);
    ApplySettings(values);
    ApplyQueueSettings();
    Settings()->ShowValues(values);
    Settings()->SetSaveTarget(IniFile.get(), [this] {
        ApplyQueueSettings();
        M3u8()->Scheduler()->SettingsSaved();
    });
    connect(Settings(), &SettingsPage::SaveFailed, this, [this](const QString &fileName) {
        m_messages->ShowWarning(
            this, QString::fromLatin1(kAppTitle),
            QStringLiteral("无法保存设置文件：\n%1\n新设置在本次运行中有效，下次启动时不会保留。")
                .arg(QDir::toNativeSeparators(fileName)));
    });
    m_m3u8Url = values.m3u8Url;
    m_m3u8Out = values.m3u8Out;
    if (auto *url = findChild<QLineEdit *>(QStringLiteral("edtMUrl"))) {
        url->setText(values.m3u8Url);
    }
    if (auto *out = findChild<QLineEdit *>(QStringLiteral("edtMPath"))) {
        out->setText(values.m3u8Out);
    }
    m_lastRunVersion = values.version;
    SelectPage(values.pageIndex);
}

void TfrmMain::WriteExitHistory() {
    if (!IniFile) {
        return;
    }
    const auto *url = findChild<QLineEdit *>(QStringLiteral("edtMUrl"));
    const auto *out = findChild<QLineEdit *>(QStringLiteral("edtMPath"));
    ::WriteExitSettings(*IniFile, GetFileVersionText(), url ? url->text() : m_m3u8Url,
                        out ? out->text() : m_m3u8Out, m_ui->TPageControl1->currentIndex());
}

void TfrmMain::ShowProgress(unsigned percent) {
    ShowProgressOn(m_ui->ProgressBar1, percent);
}

void TfrmMain::T1Click() {
    ShowHelpTopic(this, HelpTopics().at(0));
}

void TfrmMain::N28Click() {
    ShowHelpTopic(this, HelpTopics().at(1));
}

void TfrmMain::N29Click() {
    ShowHelpTopic(this, HelpTopics().at(2));
}
