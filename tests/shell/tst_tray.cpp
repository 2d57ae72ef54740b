// The tray icon of the main window: minimise and the close box hide to the tray where a tray
// exists, the tray brings the window back, and without a tray the window is never hidden.
#include "PrivateBus.h"
#include "app/config/Settings.h"
#include "app/notify/MainWindowTray.h"
#include "app/notify/Notices.h"

#include <QAction>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QtTest>

#include <memory>

namespace {

// A window whose own close handling may refuse, as the main window does while downloads run.
class Window : public QMainWindow {
public:
    bool refuseClose = false;
    int closesSeen = 0;

protected:
    void closeEvent(QCloseEvent *event) override {
        ++closesSeen;
        if (refuseClose) {
            event->ignore();
        } else {
            event->accept();
        }
    }
};

}  // namespace

// Stands in for the desktop's notification service on a private bus.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList seen;

public slots:
    uint Notify(const QString &app, uint replaces, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints,
                int timeout) {
        Q_UNUSED(replaces);
        Q_UNUSED(icon);
        Q_UNUSED(actions);
        Q_UNUSED(hints);
        seen << app + "|" + summary + "|" + body + "|" + QString::number(timeout);
        return uint(seen.size());
    }
};

class TestTray : public QObject {
    Q_OBJECT

    void MakeWindow(bool trayThere) {
        m_trayThere = trayThere;
        m_window = std::make_unique<Window>();
        m_window->resize(400, 300);
        m_tray = new MainWindowTray(m_window.get(), [this] { return m_trayThere; });
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

private slots:
    void initTestCase() {
        // As the program names itself; the icon's tip and the notices carry it.
        QApplication::setApplicationName("Korvi");
    }

    void cleanup() {
        m_window.reset();
        m_tray = nullptr;
    }

    void controls_carry_their_names() {
        MakeWindow(true);
        QVERIFY(m_window->findChild<QSystemTrayIcon *>("TrayIcon1"));
        auto *menu = m_window->findChild<QMenu *>("pmTray");
        QVERIFY(menu);
        QCOMPARE(m_tray->TrayIcon1()->contextMenu(), menu);
        QCOMPARE(menu->actions().size(), 2);
        QCOMPARE(menu->actions()[0]->objectName(), QString("mniHiWindow"));
        QCOMPARE(menu->actions()[1]->objectName(), QString("mniExitApp"));
        QCOMPARE(menu->actions()[1]->text(), QString("退出"));
        QCOMPARE(m_tray->TrayIcon1()->toolTip(), QString("Korvi"));
        QVERIFY(!m_tray->TrayIcon1()->icon().isNull());
    }

    void menu_caption_follows_the_window() {
        MakeWindow(true);
        emit m_tray->pmTray()->aboutToShow();
        QCOMPARE(m_tray->mniHiWindow()->text(), QString("隐藏主窗口"));
        m_tray->mniHiWindow()->trigger();
        QVERIFY(!m_window->isVisible());
        emit m_tray->pmTray()->aboutToShow();
        QCOMPARE(m_tray->mniHiWindow()->text(), QString("显示主窗口"));
    }

    void minimise_hides_to_tray_and_double_click_restores() {
        MakeWindow(true);
        m_window->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVisible(), 3000);
        // The tray icon stays.
        QVERIFY(m_tray->TrayIcon1()->isVisible());

        emit m_tray->TrayIcon1()->activated(QSystemTrayIcon::DoubleClick);
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), 3000);
        QVERIFY(!m_window->isMinimized());
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QCOMPARE(QGuiApplication::focusWindow(), m_window->windowHandle());
    }

    void single_click_does_not_toggle() {
        MakeWindow(true);
        emit m_tray->TrayIcon1()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(m_window->isVisible());
    }

    void close_box_hides_to_tray() {
        MakeWindow(true);
        QVERIFY(!m_window->close());
        QVERIFY(!m_window->isVisible());
        QCOMPARE(m_window->closesSeen, 0);
        m_tray->mniHiWindowClick();
        QVERIFY(m_window->isVisible());
    }

    void exit_entry_closes_for_real() {
        MakeWindow(true);
        m_tray->mniExitApp()->trigger();
        QCOMPARE(m_window->closesSeen, 1);
        QVERIFY(!m_window->isVisible());
    }

    void refused_exit_keeps_window_and_close_box_still_hides() {
        MakeWindow(true);
        m_window->refuseClose = true;
        m_tray->mniExitApp()->trigger();
        QCOMPARE(m_window->closesSeen, 1);
        QVERIFY(m_window->isVisible());
        // The refused exit leaves no exit request behind.
        QVERIFY(!m_window->close());
        QCOMPARE(m_window->closesSeen, 1);
        QVERIFY(!m_window->isVisible());
    }

    void without_tray_minimise_stays_reachable() {
        MakeWindow(false);
        m_window->showMinimized();
        QTest::qWait(50);
        QVERIFY(m_window->isVisible());
        QVERIFY(m_window->isMinimized());
    }

    void without_tray_hide_entry_keeps_window() {
        MakeWindow(false);
        m_tray->mniHiWindow()->trigger();
        QVERIFY(m_window->isVisible());
    }

    void without_tray_close_box_closes() {
        MakeWindow(false);
        QVERIFY(m_window->close());
        QCOMPARE(m_window->closesSeen, 1);
        QVERIFY(!m_window->isVisible());
    }

    void tray_appearing_later_is_used() {
        MakeWindow(false);
        QVERIFY(m_window->close());
        m_window->show();
        m_trayThere = true;
        QVERIFY(!m_window->close());
        QVERIFY(!m_window->isVisible());
    }

    void without_tray_balloons_go_to_the_notification_service() {
        PrivateBus bus;
        if (!bus.IsRunning()) {
            QSKIP("dbus-daemon could not be started");
        }
        FakeNotifications service;
        {
            QDBusConnection serviceBus =
                QDBusConnection::connectToBus(bus.Address(), "fake-notify");
            QVERIFY(serviceBus.isConnected());
            QVERIFY(serviceBus.registerService("org.freedesktop.Notifications"));
            QVERIFY(serviceBus.registerObject("/org/freedesktop/Notifications", &service,
                                              QDBusConnection::ExportAllSlots));
            MakeWindow(false);
            // A finished task through the default notice path reaches the desktop.
            SetNoticeSink(nullptr);
            BalloonHint = true;
            NoticeTaskFinished("/tmp/videos/第01集.mp4");
            QTRY_COMPARE_WITH_TIMEOUT(service.seen.size(), 1, 5000);
            QCOMPARE(service.seen[0], QString("Korvi|任务完成|第01集.mp4|3000"));
            BalloonHint = false;
            NoticeTaskFinished("/tmp/videos/第02集.mp4");
            QTest::qWait(200);
            QCOMPARE(service.seen.size(), 1);
            cleanup();
        }
        QDBusConnection::disconnectFromBus("fake-notify");
    }

private:
    bool m_trayThere = false;
    std::unique_ptr<Window> m_window;
    MainWindowTray *m_tray = nullptr;
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
