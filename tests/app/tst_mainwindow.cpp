// The main window frame: its pages, the M3U8 menu, the caption, the status bar with the progress
// bar in its last panel, the layout rules of the pages and the window's own fields.
#include "QuietSeams.h"
#include "RecordingMessages.h"
#include "app/FieldLabels.h"
#include "app/PanelStatusBar.h"
#include "app/UnitFormMain.h"
#include "hls/EngineNotice.h"
#include "resources/KorviResources.h"
#include "support/ExternalTools.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"
#include "tasks/page/M3u8Page.h"
#include "tasks/queue/TaskScheduler.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QtTest>

namespace {

QStringList g_openedPaths;
void RecordOpen(const QString &path) {
    g_openedPaths.append(path);
}

void Settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

template <typename T>
T *Find(const QWidget &root, const char *name) {
    T *child = root.findChild<T *>(QString::fromLatin1(name));
    if (child == nullptr) {
        qWarning("no child %s", name);
    }
    return child;
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Every test sees both tools, so no start-up box depends on the machine.
        QVERIFY(m_tools.isValid());
        for (const char *tool : {"ffmpeg", "aria2c"}) {
            QFile file(m_tools.filePath(QString::fromLatin1(tool)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("#!/bin/sh\nexit 0\n");
            file.close();
            QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        ExternalTools::Instance().SetProgramDir(m_tools.path());
        ExternalTools::Instance().SetSearchPath({});
    }

    void cleanupTestCase() { ExternalTools::Instance().Reset(); }

    void four_pages_with_their_captions_in_order() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        auto *pages = Find<QTabWidget>(w, "TPageControl1");
        QVERIFY(pages);
        QCOMPARE(pages->count(), 4);
        const QStringList captions = {QStringLiteral("FFMPEG命令"), QStringLiteral("批处理"),
                                      QStringLiteral("M3U8"), QStringLiteral("设置")};
        const QStringList classes = {"WorkbenchPage", "BatchPage", "M3u8Page", "SettingsPage"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(pages->tabText(i), captions[i]);
            QCOMPARE(pages->widget(i)->objectName(), QStringLiteral("TabSheet%1").arg(i + 1));
            QVERIFY2(pages->widget(i)->inherits(classes[i].toLatin1()), qPrintable(classes[i]));
            const QIcon icon = pages->tabIcon(i);
            QVERIFY2(!icon.isNull(), "every tab has an icon");
            QCOMPARE(icon.pixmap(32, 32).size(), QSize(32, 32));
        }
        QCOMPARE(pages->iconSize(), QSize(32, 32));
        QVERIFY(messages.boxes.isEmpty());
    }

    void button_pictures_are_compiled_in_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("start") << "STARTDL";
        QTest::newRow("stop") << "STOPDL";
        QTest::newRow("batch transcode") << "BATRECODE";
    }

    void button_pictures_are_compiled_in() {
        QFETCH(QString, name);
        InitKorviResources();
        QCOMPARE(PictureResourcePath(name), QStringLiteral(":/korvi/pictures/%1.png").arg(name));
        const QPixmap picture(PictureResourcePath(name));
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.size(), QSize(32, 32));
    }

    void tabs_are_160_wide() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTabBar *bar = Find<QTabWidget>(w, "TPageControl1")->tabBar();
        for (int i = 0; i < bar->count(); ++i) {
            QCOMPARE(bar->tabRect(i).width(), 160);
        }
    }

    void start_shows_the_m3u8_page_and_its_menu() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        QCOMPARE(Find<QTabWidget>(w, "TPageControl1")->currentIndex(), 2);
        auto *menu = Find<QMenu>(w, "mnuM3u8");
        QVERIFY(menu);
        QCOMPARE(menu->title(), QStringLiteral("菜单(&M)"));
        QVERIFY(menu->menuAction()->isVisible());
        QVERIFY(Find<QMenuBar>(w, "MainMenu1")->actions().contains(menu->menuAction()));
    }

    void m3u8_menu_follows_the_current_page_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("menuVisible");
        QTest::newRow("workbench") << 0 << false;
        QTest::newRow("batch") << 1 << false;
        QTest::newRow("m3u8") << 2 << true;
        QTest::newRow("settings") << 3 << false;
    }

    void m3u8_menu_follows_the_current_page() {
        QFETCH(int, page);
        QFETCH(bool, menuVisible);
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        auto *pages = Find<QTabWidget>(w, "TPageControl1");
        auto *menu = Find<QMenu>(w, "mnuM3u8");
        // Leave the start page first, so every row really changes the page.
        pages->setCurrentIndex(page == 1 ? 0 : 1);
        pages->setCurrentIndex(page);
        QCOMPARE(menu->menuAction()->isVisible(), menuVisible);
    }

    void m3u8_menu_follows_clicks_on_the_tabs() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *pages = Find<QTabWidget>(w, "TPageControl1");
        auto *menu = Find<QMenu>(w, "mnuM3u8");
        QTabBar *bar = pages->tabBar();
        for (int page : {0, 2, 3, 2, 1}) {
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(page).center());
            QCOMPARE(pages->currentIndex(), page);
            QCOMPARE(menu->menuAction()->isVisible(), page == 2);
        }
    }

    void help_menu_stays_on_every_page() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        auto *help = Find<QMenu>(w, "mnuHelp");
        QVERIFY(help);
        QCOMPARE(help->title(), QStringLiteral("帮助(&H)"));
        QCOMPARE(Find<QMenuBar>(w, "MainMenu1")->actions().last(), help->menuAction());
        for (int page = 0; page < 4; ++page) {
            w.SelectPage(page);
            QVERIFY(help->menuAction()->isVisible());
        }
    }

    // The pages must not jump when the first menu comes and goes.
    void menu_bar_keeps_its_height_on_every_page() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *pages = Find<QTabWidget>(w, "TPageControl1");
        QMenuBar *bar = w.menuBar();
        Settle();
        const int onM3u8 = bar->height();
        const int pagesTop = pages->geometry().top();
        for (int page : {0, 1, 3}) {
            pages->setCurrentIndex(page);
            Settle();
            QCOMPARE(bar->height(), onM3u8);
            QCOMPARE(pages->geometry().top(), pagesTop);
        }
    }

    void selected_page_is_taken_modulo_the_page_count_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("page");
        QTest::newRow("0") << 0 << 0;
        QTest::newRow("3") << 3 << 3;
        QTest::newRow("4 wraps to 0") << 4 << 0;
        QTest::newRow("6 wraps to 2") << 6 << 2;
        QTest::newRow("-1 wraps to 3") << -1 << 3;
    }

    void selected_page_is_taken_modulo_the_page_count() {
        QFETCH(int, index);
        QFETCH(int, page);
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        w.SelectPage(index);
        QCOMPARE(Find<QTabWidget>(w, "TPageControl1")->currentIndex(), page);
        QCOMPARE(Find<QMenu>(w, "mnuM3u8")->menuAction()->isVisible(), page == 2);
    }

    void caption_is_title_version_and_contact_address() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        QCOMPARE(TfrmMain::GetFileVersionText(), QStringLiteral(KORVI_VERSION));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$"))
                    .match(TfrmMain::GetFileVersionText())
                    .hasMatch());
        const QString prefix =
            QStringLiteral("Korvi v") + TfrmMain::GetFileVersionText() + QStringLiteral("   ");
        QVERIFY2(w.windowTitle().startsWith(prefix), qPrintable(w.windowTitle()));
        const QString address = w.windowTitle().mid(prefix.size());
        QVERIFY2(QRegularExpression(QStringLiteral("^[^\\s@]+@[^\\s@]+\\.[a-z]+$"))
                     .match(address)
                     .hasMatch(),
                 qPrintable(address));
    }

    void window_starts_at_design_size_centred() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        QCOMPARE(w.size(), QSize(821, 556));
        const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY(qAbs(w.geometry().center().x() - screenCentre.x()) <= 1);
        QVERIFY(qAbs(w.geometry().center().y() - screenCentre.y()) <= 1);
    }

    void window_font_choice_data() {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("family");
        QTest::newRow("both") << QStringList{"宋体", "微软雅黑"} << QStringLiteral("微软雅黑");
        QTest::newRow("yahei only") << QStringList{"微软雅黑"} << QStringLiteral("微软雅黑");
        QTest::newRow("songti only") << QStringList{"Arial", "宋体"} << QStringLiteral("宋体");
        QTest::newRow("neither") << QStringList{"WenQuanYi Micro Hei"} << QString();
        QTest::newRow("none at all") << QStringList{} << QString();
    }

    void window_font_choice() {
        QFETCH(QStringList, installed);
        QFETCH(QString, family);
        QCOMPARE(PickWindowFontFamily([&](const QString &f) { return installed.contains(f); }),
                 family);
    }

    void progress_bar_fills_the_last_panel_after_a_resize_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("design size") << QSize(821, 556);
        QTest::newRow("larger") << QSize(1000, 700);
        QTest::newRow("smaller") << QSize(700, 480);
        QTest::newRow("width not divisible by 4") << QSize(903, 601);
    }

    void progress_bar_fills_the_last_panel_after_a_resize() {
        QFETCH(QSize, size);
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.resize(size);
        Settle();
        QCOMPARE(w.size(), size);
        auto *bar = Find<PanelStatusBar>(w, "StatusBar1");
        auto *progress = Find<QProgressBar>(w, "ProgressBar1");
        QVERIFY(bar && progress);
        QCOMPARE(w.statusBar(), bar);
        QCOMPARE(bar->PanelCount(), 4);
        const int panelWidth = bar->width() / 4;
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(bar->PanelWidth(i), panelWidth);
            QCOMPARE(bar->PanelRect(i), QRect(i * panelWidth, 0, panelWidth, bar->height()));
            QCOMPARE(bar->Panel(i)->geometry(), bar->PanelRect(i));
        }
        QCOMPARE(progress->parentWidget(), bar);
        QVERIFY(progress->isVisible());
        QCOMPARE(progress->geometry(), bar->PanelRect(3));
    }

    void progress_bar_runs_from_0_to_100() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        auto *progress = Find<QProgressBar>(w, "ProgressBar1");
        QCOMPARE(progress->minimum(), 0);
        QCOMPARE(progress->maximum(), 100);
        // Placed before the window is ever shown, as the start-up does.
        QCOMPARE(progress->parentWidget(), Find<PanelStatusBar>(w, "StatusBar1"));
    }

    void status_panels_hold_text() {
        PanelStatusBar bar;
        bar.SetPanelText(1, QStringLiteral("片段.mp4"));
        bar.SetPanelText(2, QStringLiteral("下载中 45.50%"));
        QCOMPARE(bar.PanelText(0), QString());
        QCOMPARE(bar.PanelText(1), QStringLiteral("片段.mp4"));
        QCOMPARE(bar.Panel(2)->text(), QStringLiteral("下载中 45.50%"));
        QCOMPARE(bar.PanelRect(4), QRect());
        QCOMPARE(bar.PanelRect(-1), QRect());
        bar.SetPanelWidth(0, 30);
        bar.SetPanelWidth(1, 70);
        QCOMPARE(bar.PanelRect(2).left(), 100);
    }

    void page_control_fills_the_window_above_the_status_bar() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.resize(900, 640);
        Settle();
        auto *pages = Find<QTabWidget>(w, "TPageControl1");
        const QRect inWindow(pages->mapTo(&w, QPoint(0, 0)), pages->size());
        QCOMPARE(inWindow.left(), 0);
        QCOMPARE(inWindow.width(), w.width());
        QCOMPARE(inWindow.bottom() + 1, w.statusBar()->geometry().top());
        QCOMPARE(inWindow.top(), w.menuBar()->geometry().bottom() + 1);
    }

    void large_buttons_sit_centred_100_above_the_page_bottom_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("caption");
        QTest::newRow("transcode") << 0 << "btnFRecode" << QStringLiteral("转码");
        QTest::newRow("save settings") << 3 << "btnSaveConfig" << QStringLiteral("保存设置");
    }

    void large_buttons_sit_centred_100_above_the_page_bottom() {
        QFETCH(int, page);
        QFETCH(QString, button);
        QFETCH(QString, caption);
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        w.SelectPage(page);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (const QSize size : {QSize(821, 556), QSize(1100, 720)}) {
            w.resize(size);
            Settle();
            QWidget *sheet = Find<QTabWidget>(w, "TPageControl1")->widget(page);
            auto *btn = sheet->findChild<QPushButton *>(button);
            QVERIFY(btn);
            QCOMPARE(btn->text(), caption);
            const QRect r(btn->mapTo(sheet, QPoint(0, 0)), btn->size());
            QCOMPARE(r.size(), QSize(150, 50));
            QVERIFY2(qAbs(r.center().x() - sheet->width() / 2) <= 1, "centred horizontally");
            QCOMPARE(sheet->height() - (r.bottom() + 1), 100);
        }
    }

    void batch_list_and_group_share_the_page() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        w.SelectPage(1);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (const QSize size : {QSize(821, 556), QSize(1000, 700)}) {
            w.resize(size);
            Settle();
            QWidget *sheet = Find<QWidget>(w, "TabSheet2");
            auto *list = Find<QTableView>(w, "lvwBList");
            auto *group = Find<QGroupBox>(w, "gbBat");
            QVERIFY(list && group);
            QCOMPARE(list->geometry().topLeft(), QPoint(0, 0));
            QCOMPARE(list->width(), sheet->width());
            QCOMPARE(list->height(), sheet->height() - group->height() - 55);
            QCOMPARE(group->geometry().top(), list->height() + 1);
            QCOMPARE(group->geometry().left(), 0);
            QCOMPARE(group->width(), sheet->width());
            auto *codecs = Find<QComboBox>(w, "cboBCodec");
            auto *codec = Find<QLineEdit>(w, "edtBCodec");
            QCOMPARE(codecs->parentWidget(), group);
            QCOMPARE(group->width() - (codecs->geometry().right() + 1), 20);
            QCOMPARE(codecs->geometry().left() - (codec->geometry().right() + 1), 10);
        }
    }

    void task_list_and_button_column_share_the_page() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (const QSize size : {QSize(821, 556), QSize(1000, 700)}) {
            w.resize(size);
            Settle();
            QWidget *sheet = Find<QWidget>(w, "TabSheet3");
            auto *list = Find<QTableView>(w, "lvwMList");
            auto *buttons = Find<QGroupBox>(w, "gbMLvwBtns");
            QVERIFY(list && buttons);
            const QRect l(list->mapTo(sheet, QPoint(0, 0)), list->size());
            const QRect b(buttons->mapTo(sheet, QPoint(0, 0)), buttons->size());
            QCOMPARE(l.left(), 0);
            QCOMPARE(l.width(), sheet->width() - b.width());
            QCOMPARE(l.height(), sheet->height() - l.top() - 55);
            QCOMPARE(b.left(), l.right() + 1);
            QCOMPARE(b.top(), l.top());
            QCOMPARE(b.height(), l.height());
            QCOMPARE(list->font().pointSize(), 9);
        }
    }

    void lists_are_read_only_grid_views_selecting_whole_rows_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QAbstractItemView::SelectionMode>("mode");
        QTest::newRow("batch list") << "lvwBList" << QAbstractItemView::ExtendedSelection;
        QTest::newRow("task list, one row at a time")
            << "lvwMList" << QAbstractItemView::SingleSelection;
    }

    void lists_are_read_only_grid_views_selecting_whole_rows() {
        QFETCH(QString, name);
        QFETCH(QAbstractItemView::SelectionMode, mode);
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        auto *list = w.findChild<QTableView *>(name);
        QVERIFY(list);
        QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(list->showGrid());
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(list->selectionMode(), mode);
    }

    void donation_picture_with_its_note_below() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        w.SelectPage(3);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        Settle();
        auto *picture = Find<QLabel>(w, "imgQRPay");
        auto *note = Find<QLabel>(w, "lblPayTips");
        QVERIFY(picture && note);
        QCOMPARE(picture->size(), QSize(128, 128));
        QVERIFY(picture->hasScaledContents());
        QVERIFY(!picture->pixmap().isNull());
        QCOMPARE(note->text(), QStringLiteral("编程不易，打赏随意"));
        QCOMPARE(note->geometry().top(), picture->geometry().bottom() + 1 + 2);
        QVERIFY(qAbs(note->geometry().center().x() - picture->geometry().center().x()) <= 1);
        QCOMPARE(note->palette().color(note->foregroundRole()), QColor(128, 128, 128));
    }

    void field_labels_are_grey_once_shown_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("grey");
        for (const QString &text : FieldLabelTexts()) {
            QTest::newRow(qPrintable(text)) << text << true;
        }
        QTest::newRow("not a field label") << QStringLiteral("打开") << false;
        QTest::newRow("field text with a colon") << QStringLiteral("端口:") << false;
    }

    void field_labels_are_grey_once_shown() {
        QFETCH(QString, text);
        QFETCH(bool, grey);
        QCOMPARE(FieldLabelTexts().size(), 13);
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        // A label a page adds after start-up is greyed when the window is shown.
        auto *label = new QLabel(text, Find<QWidget>(w, "TabSheet4"));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(label->palette().color(QPalette::WindowText) == QColor(128, 128, 128), grey);
    }

    void start_up_fields() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        const TaskScheduler *scheduler = w.M3u8()->Scheduler();
        QVERIFY(scheduler->IsStopped());
        QVERIFY(!scheduler->ShutdownAfterDownload);
        for (int slot = 1; slot <= TaskScheduler::SlotCount; ++slot) {
            QCOMPARE(scheduler->Slot(slot), nullptr);
        }
        QCOMPARE(w.AppTempDir, GetTempDir());
        QVERIFY(!w.AppTempDir.endsWith(QLatin1Char('/')));
        QCOMPARE(w.FFmpegPath, QDir(m_tools.path()).filePath(QStringLiteral("ffmpeg")));
    }

    void download_tick_is_a_stopped_2000_ms_one_shot() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        auto *timer = w.M3u8()->Scheduler()->findChild<QTimer *>(QStringLiteral("tmrDownload"));
        QVERIFY(timer);
        QCOMPARE(timer->interval(), 2000);
        QVERIFY(timer->isSingleShot());
        QVERIFY(!timer->isActive());
    }

    void engine_error_box_is_shown_over_the_window_while_it_lives() {
        RecordingMessages messages;
        {
            TfrmMain w(QuietSeams(messages));
            const int before = messages.boxes.size();
            ShowEngineError(QStringLiteral("ffmpeg.exe 缺失!"), QStringLiteral("错误"));
            QCOMPARE(messages.boxes.size(), before + 1);
            QCOMPARE(messages.boxes.last().kind, QStringLiteral("error"));
            QCOMPARE(messages.boxes.last().caption, QStringLiteral("错误"));
            QCOMPARE(messages.boxes.last().text, QStringLiteral("ffmpeg.exe 缺失!"));
        }
        // A closed window no longer receives the engine's box.
        const int after = messages.boxes.size();
        ShowEngineError(QStringLiteral("x"), QStringLiteral("y"));
        QCOMPARE(messages.boxes.size(), after);
    }

    void open_temp_folder_opens_the_temporary_folder() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        g_openedPaths.clear();
        SetShellOpener(RecordOpen);
        auto *item = w.findChild<QAction *>(QStringLiteral("mnuOpenTemp"));
        QVERIFY(item);
        QCOMPARE(item->text(), QStringLiteral("打开临时目录"));
        QVERIFY(Find<QMenu>(w, "mnuM3u8")->actions().contains(item));
        item->trigger();
        SetShellOpener(nullptr);
        QCOMPARE(g_openedPaths, QStringList{GetTempDir()});
    }

    void activation_restores_a_minimised_window() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        QSignalSpy activated(&w, &TfrmMain::InstanceActivated);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.showMinimized();
        QTRY_VERIFY(w.isMinimized());
        w.WMActivateInstance();
        QTRY_VERIFY(!w.isMinimized());
        QVERIFY(w.isVisible());
        QCOMPARE(activated.count(), 1);
        QTRY_COMPARE(QApplication::activeWindow(), &w);
    }

    void activation_shows_a_hidden_window_and_keeps_it_maximised() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        w.showMaximized();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.hide();
        QVERIFY(!w.isVisible());
        w.WMActivateInstance();
        QVERIFY(w.isVisible());
        QVERIFY(w.isMaximized());
    }

private:
    QTemporaryDir m_tools;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
