#include "app/notify/MainWindowTray.h"

#include "app/notify/DesktopBus.h"
#include "app/notify/Notices.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDBusMessage>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

namespace {

// A round badge with a play triangle, for a program that brings no icon of its own.
QIcon FallbackIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x1e, 0x88, 0xe5));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(1, 1, 30, 30);
    painter.setBrush(Qt::white);
    const QPointF triangle[] = {{12, 9}, {12, 23}, {24, 16}};
    painter.drawPolygon(triangle, 3);
    return QIcon(pixmap);
}

// The tip holds at most 127 characters.
QString TipText() {
    QString tip = QApplication::applicationName();
    if (tip.isEmpty()) {
        tip = QStringLiteral("Korvi");
    }
    return tip.left(127);
}

void PresentBalloon(void *context, const QString &title, const QString &text, int timeoutMs) {
    static_cast<MainWindowTray *>(context)->ShowBalloon(title, text, timeoutMs);
}

}  // namespace

MainWindowTray::MainWindowTray(QWidget *window, TrayProbe trayAvailable)
    : QObject(window),
      m_window(window),
      m_trayAvailable(std::move(trayAvailable)),
      m_trayIcon(new QSystemTrayIcon(this)),
      m_menu(new QMenu(window)),
      m_hiWindow(new QAction(QStringLiteral("隐藏主窗口"), m_menu)),
      m_exitApp(new QAction(QStringLiteral("退出"), m_menu)) {
    m_trayIcon->setObjectName(QStringLiteral("TrayIcon1"));
    m_menu->setObjectName(QStringLiteral("pmTray"));
    m_hiWindow->setObjectName(QStringLiteral("mniHiWindow"));
    m_exitApp->setObjectName(QStringLiteral("mniExitApp"));
    QFont bold = m_hiWindow->font();
    bold.setBold(true);  // the default entry, as a double-click on the icon runs it
    m_hiWindow->setFont(bold);
    m_menu->addAction(m_hiWindow);
    m_menu->addAction(m_exitApp);

    QIcon icon = window->windowIcon();
    if (icon.isNull()) {
        icon = QApplication::windowIcon();
    }
    if (icon.isNull()) {
        // The window and its tray icon show the same picture.
        icon = FallbackIcon();
        QApplication::setWindowIcon(icon);
    }
    m_trayIcon->setIcon(icon);
    m_trayIcon->setToolTip(TipText());
    m_trayIcon->setContextMenu(m_menu);
    window->installEventFilter(this);
    connectSignals();
    m_trayIcon->show();
    SetBalloonPresenter(PresentBalloon, this);
    // Ending the session closes every window; the close box rule must not refuse that.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] {
        m_exitRequested = true;
        QTimer::singleShot(0, this, [this] { m_exitRequested = false; });
    });
}

MainWindowTray::~MainWindowTray() {
    SetBalloonPresenter(nullptr, nullptr);
}

void MainWindowTray::connectSignals() {
    connect(m_menu, &QMenu::aboutToShow, this, &MainWindowTray::pmTrayPopup);
    connect(m_hiWindow, &QAction::triggered, this, &MainWindowTray::mniHiWindowClick);
    connect(m_exitApp, &QAction::triggered, this, &MainWindowTray::mniExitAppClick);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindowTray::TrayIcon1Activated);
}

bool MainWindowTray::TrayAvailable() const {
    return m_trayAvailable ? m_trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}

void MainWindowTray::pmTrayPopup() {
    m_hiWindow->setText(m_window->isVisible() ? QStringLiteral("隐藏主窗口")
                                              : QStringLiteral("显示主窗口"));
}

void MainWindowTray::mniHiWindowClick() {
    if (m_window->isVisible()) {
        // Without a tray a hidden window could not be brought back.
        if (TrayAvailable()) {
            m_window->hide();
        }
        return;
    }
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    m_window->setFocus(Qt::ActiveWindowFocusReason);
}

void MainWindowTray::mniExitAppClick() {
    RequestExit();
}

void MainWindowTray::TrayIcon1Activated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) {
        mniHiWindowClick();
    }
}

bool MainWindowTray::RequestExit() {
    m_exitRequested = true;
    const bool closed = m_window->close();
    m_exitRequested = false;
    return closed;
}

void MainWindowTray::ShowBalloon(const QString &title, const QString &text, int timeoutMs) {
    if (TrayAvailable()) {
        m_trayIcon->showMessage(title, text, QSystemTrayIcon::NoIcon, timeoutMs);
        return;
    }
    // Without a tray, the desktop's notification service shows it, where there is one.
    if (!ConnectDesktopBus()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << TipText() << quint32(0) << QString() << title << text << QStringList() << QVariantMap()
         << qint32(timeoutMs);
    DesktopBus().call(call, QDBus::NoBlock);
}

void MainWindowTray::HideToTray() {
    m_hidePending = false;
    if (!m_window->isMinimized() || !TrayAvailable()) {
        return;
    }
    m_window->hide();
    // Shown again from the tray, the window comes back in its normal state.
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
}

bool MainWindowTray::eventFilter(QObject *watched, QEvent *event) {
    if (watched != m_window) {
        return false;
    }
    if (event->type() == QEvent::WindowStateChange && m_window->isMinimized() && TrayAvailable() &&
        !m_hidePending) {
        // The state change is reported while it happens; hide once it has settled.
        m_hidePending = true;
        QTimer::singleShot(0, this, &MainWindowTray::HideToTray);
    } else if (event->type() == QEvent::Close && !m_exitRequested && TrayAvailable()) {
        event->ignore();
        m_window->hide();
        return true;
    }
    return false;
}
