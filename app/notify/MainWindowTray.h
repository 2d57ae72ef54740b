#pragma once
// The notification-area icon of the main window: its menu, hiding the window to the tray on
// minimise and on the close box, bringing it back, and showing balloons. Where the desktop has
// no tray, minimise and close act as ordinary window buttons so the window is never out of
// reach.

#include <QObject>
#include <QSystemTrayIcon>

#include <functional>

class QAction;
class QMenu;
class QWidget;

class MainWindowTray : public QObject {
    Q_OBJECT

public:
    using TrayProbe = std::function<bool()>;

    // `trayAvailable` tells whether a tray host is there right now; empty means
    // QSystemTrayIcon::isSystemTrayAvailable(). The icon is shown at once.
    explicit MainWindowTray(QWidget *window, TrayProbe trayAvailable = TrayProbe());
    ~MainWindowTray() override;

    QSystemTrayIcon *TrayIcon1() const { return m_trayIcon; }
    QMenu *pmTray() const { return m_menu; }
    QAction *mniHiWindow() const { return m_hiWindow; }
    QAction *mniExitApp() const { return m_exitApp; }

    bool TrayAvailable() const;

    // Menu opening: the caption says what mniHiWindow will do.
    void pmTrayPopup();
    // Hides a visible window; shows, restores, raises and focuses a hidden one.
    void mniHiWindowClick();
    // Closes the window through its normal closing path.
    void mniExitAppClick();
    void TrayIcon1Activated(QSystemTrayIcon::ActivationReason reason);

    // Closes the window for real (the exit entry, or the shut-down after downloads). A close
    // refused by the window's own close handling leaves it open, and the next close box click
    // hides it again. Returns whether the window closed.
    bool RequestExit();

    // A balloon from the icon; without a tray, the desktop's notification service is used.
    void ShowBalloon(const QString &title, const QString &text, int timeoutMs);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectSignals();
    void HideToTray();

    QWidget *m_window;
    TrayProbe m_trayAvailable;
    QSystemTrayIcon *m_trayIcon;
    QMenu *m_menu;
    QAction *m_hiWindow;
    QAction *m_exitApp;
    bool m_exitRequested = false;
    bool m_hidePending = false;
};
