#include "app/UnitFormMain.h"

#include "app/AppTitle.h"
#include "app/FieldLabels.h"
#include "app/MessageService.h"
#include "resources/KorviResources.h"
#include "support/ExternalTools.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"
#include "support/gui/GuiUtils.h"
#include "ui_UnitFormMain.h"

#include <QFont>
#include <QGuiApplication>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>

namespace {

const QString kContactAddress = QStringLiteral("korvi@example.com");
constexpr int kDownloadTickMs = 2000;

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
      m_isWin64(seams.isWin64 ? seams.isWin64 : std::function<bool()>(IsWin64)) {
    InitKorviResources();
    m_ui->setupUi(this);
    tmrDownload = new QTimer(this);
    tmrDownload->setObjectName(QStringLiteral("tmrDownload"));
    tmrDownload->setInterval(kDownloadTickMs);
    tmrDownload->setSingleShot(true);
    connectSignals();
    FormCreate();
}

TfrmMain::~TfrmMain() {
    FormDestroy();
}

void TfrmMain::connectSignals() {
    connect(m_ui->TPageControl1, &QTabWidget::currentChanged, this, &TfrmMain::TPageControl1Change);
    connect(m_ui->mnuOpenTemp, &QAction::triggered, this, &TfrmMain::mnuOpenTempClick);
}

QString TfrmMain::GetFileVersionText() {
    return QStringLiteral(KORVI_VERSION);
}

void TfrmMain::FormCreate() {
    SetCaption();
    Stopped = true;
    ShutdownAfterDownload = false;
    AppTempDir = GetTempDir();
    FFmpegPath = ExternalTools::Instance().FFmpegPath();
    if (FFmpegPath.isEmpty()) {
        // Keep a path even without the tool, so a later run names what is missing.
        FFmpegPath = ExternalTools::Instance().ProgramDirectory() + QStringLiteral("/ffmpeg");
    }
    SelectPage(kM3u8Page);
    SetWindowFont();
    ApplyFieldLabelColours(this);
    CentreOnScreen();
    PlaceProgressBar();
    CheckComponents();
    if (m_lastRunVersion != GetFileVersionText()) {
        CheckSystemVersion();
    }
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
    tmrDownload->stop();
    Tasks.fill(nullptr);
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
