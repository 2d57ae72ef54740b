// The task list commands, the headers wizard and the task details on the M3U8 page, offscreen:
// fake download objects behind the queue for the commands, the local test server and the real
// tools for the full-address export and for headers that must reach the server.

#include "FakeTask.h"
#include "HlsTestServer.h"
#include "MediaProbe.h"
#include "TestStreams.h"
#include "TestTools.h"

#include "support/WorkFolders.h"
#include "tasks/page/M3u8Page.h"
#include "tasks/queue/TaskListModel.h"
#include "tasks/queue/TaskScheduler.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

namespace {

using C = TaskListModel;

struct Rig {
    FakeTaskPool pool;
    QString saveAnswer;
    std::function<void()> whileSaving;
    QStringList notices;
    QStringList opened;
    M3u8Page page;

    explicit Rig(bool fakeTasks = true) {
        if (fakeTasks)
            page.SetTaskFactory(pool.Factory());
        M3u8PageDialogs dialogs;
        dialogs.saveFile = [this](QWidget *, const QString &filter, const QString &suffix) {
            notices << QStringLiteral("save|%1|%2").arg(filter, suffix);
            if (whileSaving)
                whileSaving();
            return saveAnswer;
        };
        dialogs.showNotice = [this](QWidget *, const QString &caption, const QString &text) {
            notices << caption + QLatin1Char('|') + text;
        };
        dialogs.openFolder = [this](const QString &folder) { opened << folder; };
        page.SetDialogs(dialogs);
        page.Scheduler()->LimitTasks = 2;
        page.resize(900, 450);
        page.show();
    }
    template <typename T>
    T *find(const char *name) const {
        return page.findChild<T *>(QLatin1String(name));
    }
    QTableView *list() const { return find<QTableView>("lvwMList"); }
    TaskListModel *model() const { return page.Model(); }
    FakeTask *slot(int n) const { return static_cast<FakeTask *>(page.Scheduler()->Slot(n)); }
    void click(const char *button) { QTest::mouseClick(find<QToolButton>(button), Qt::LeftButton); }
    void addRows(int count) {
        for (int n = 1; n <= count; ++n)
            page.Scheduler()->AddM3u8Task(QStringLiteral("http://127.0.0.1:9/v%1.m3u8").arg(n),
                                          QStringLiteral("/v/%1.mp4").arg(n), QString());
    }
    void select(int row) { list()->selectRow(row); }
    QStringList column(int column) const {
        QStringList cells;
        for (int row = 0; row < model()->Count(); ++row)
            cells << model()->Field(row, C::Column(column));
        return cells;
    }
    QAction *entry(const char *name) const {
        for (QAction *action : page.ListMenu()->actions())
            if (action->objectName() == QLatin1String(name))
                return action;
        return nullptr;
    }
};

}  // namespace

class TestListCommands : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void clear_removes_all_rows_while_stopped();
    void clear_keeps_running_rows_renumbered();
    void remove_leaves_a_running_row();
    void moved_running_row_keeps_reporting_into_itself();
    void leaving_rows_take_their_kept_work_folders();
    void clear_error_info_queues_failed_rows_again();
    void context_menu_shows_what_the_row_allows();
    void details_dialog_shows_the_row();
    void failed_row_says_why_in_its_tooltip_and_details();
    void export_writes_full_addresses();
    void headers_from_the_wizard_reach_the_server();

private:
    QTemporaryDir m_base;
};

void TestListCommands::initTestCase() {
    QVERIFY(m_base.isValid());
    TestTools::IsolateEnvironment(m_base.path());
}

void TestListCommands::clear_removes_all_rows_while_stopped() {
    Rig rig;
    rig.addRows(8);
    QCOMPARE(rig.model()->Count(), 8);
    rig.click("btnMLvwClear");
    QCOMPARE(rig.model()->Count(), 0);
    // The menu entry is the same command; on an empty list it does nothing.
    rig.entry("N23")->trigger();
    QCOMPARE(rig.model()->Count(), 0);
}

void TestListCommands::clear_keeps_running_rows_renumbered() {
    Rig rig;
    rig.addRows(8);
    QTest::mouseClick(rig.find<QPushButton>("btnMStartTask"), Qt::LeftButton);
    // Rows 1 and 2 run; the second is moved down to the fifth place first.
    rig.select(1);
    for (int n = 0; n < 3; ++n)
        rig.click("btnMLvwDown");
    QCOMPARE(rig.column(C::ColNumber), (QStringList{"1", "2", "3", "4", "5", "6", "7", "8"}));
    QVERIFY(rig.model()->IsRowRunning(4));
    rig.entry("N23")->trigger();
    QCOMPARE(rig.column(C::ColUrl),
             (QStringList{"http://127.0.0.1:9/v1.m3u8", "http://127.0.0.1:9/v2.m3u8"}));
    QCOMPARE(rig.column(C::ColNumber), (QStringList{"1", "2"}));
    QCOMPARE(rig.column(C::ColStatus), (QStringList{"下载中", "下载中"}));
}

void TestListCommands::remove_leaves_a_running_row() {
    Rig rig;
    rig.addRows(3);
    QTest::mouseClick(rig.find<QPushButton>("btnMStartTask"), Qt::LeftButton);
    rig.select(0);
    rig.click("btnMLvwDel");
    QCOMPARE(rig.model()->Count(), 3);
    rig.select(2);
    rig.click("btnMLvwDel");
    QCOMPARE(rig.column(C::ColNumber), (QStringList{"1", "2"}));
    QCOMPARE(rig.model()->Count(), 2);
    rig.list()->clearSelection();
    rig.click("btnMLvwDel");
    QCOMPARE(rig.model()->Count(), 2);
}

// A stopped download's folder is kept for resuming until its row leaves the list, unless
// another row still names it or a task works in it.
void TestListCommands::leaving_rows_take_their_kept_work_folders() {
    Rig rig;
    const QStringList urls = {"http://127.0.0.1:9/k1.m3u8", "http://127.0.0.1:9/k2.m3u8",
                              "http://127.0.0.1:9/k2.m3u8", "http://127.0.0.1:9/k3.m3u8",
                              "http://127.0.0.1:9/k4.m3u8"};
    for (const QString &url : urls) {
        rig.page.Scheduler()->AddM3u8Task(url, "/v/k.mp4", QString());
        const QString dir = WorkDirFor(url);
        QVERIFY(TestTools::WriteFile(dir + "/index.m3u8", "#EXTM3U\n"));
        QVERIFY(TestTools::WriteFile(dir + "/" + WorkListFileName(WorkIdFor(url)), "x\n"));
    }
    auto kept = [&](int n) { return QFileInfo::exists(WorkDirFor(urls[n])); };
    rig.select(0);
    rig.click("btnMLvwDel");
    QVERIFY(!kept(0));
    rig.select(0);
    rig.click("btnMLvwDel");
    QVERIFY2(kept(1), "the other row of the address keeps it");
    QTest::mouseClick(rig.find<QPushButton>("btnMStartTask"), Qt::LeftButton);
    QVERIFY(rig.model()->IsRowRunning(0) && rig.model()->IsRowRunning(1));
    rig.entry("N23")->trigger();
    QCOMPARE(rig.model()->Count(), 2);
    QVERIFY(kept(1) && kept(3));
    QVERIFY(!kept(4));
}

void TestListCommands::moved_running_row_keeps_reporting_into_itself() {
    Rig rig;
    rig.page.Scheduler()->LimitTasks = 1;
    rig.addRows(3);
    QTest::mouseClick(rig.find<QPushButton>("btnMStartTask"), Qt::LeftButton);
    const QString id = rig.model()->Field(0, C::ColId);
    QVERIFY(!id.isEmpty());
    // The top row up and the bottom row down change nothing, not even the numbers.
    const QStringList before = rig.column(C::ColUrl);
    rig.model()->SetField(0, C::ColNumber, QStringLiteral("7"));
    rig.select(0);
    rig.click("btnMLvwUp");
    rig.select(2);
    rig.click("btnMLvwDown");
    QCOMPARE(rig.column(C::ColUrl), before);
    QCOMPARE(rig.column(C::ColNumber), (QStringList{"7", "2", "3"}));

    rig.select(0);
    rig.click("btnMLvwDown");
    rig.click("btnMLvwDown");
    QCOMPARE(rig.model()->Field(2, C::ColId), id);
    QCOMPARE(rig.model()->Field(2, C::ColUrl), before.at(0));
    QCOMPARE(rig.list()->selectionModel()->selectedRows().first().row(), 2);
    QCOMPARE(rig.column(C::ColNumber), (QStringList{"1", "2", "3"}));
    rig.slot(1)->Progress(QStringLiteral("1"), 42.5f, QStringLiteral("下载中"));
    QCOMPARE(rig.model()->Field(2, C::ColProgress), QStringLiteral("42.50%"));
    QCOMPARE(rig.column(C::ColProgress), (QStringList{"", "", "42.50%"}));
    rig.click("btnMLvwUp");
    QCOMPARE(rig.model()->Field(1, C::ColId), id);
    rig.slot(1)->Finish();
    QCOMPARE(rig.column(C::ColUrl), (QStringList{before.at(1), before.at(2)}));
}

void TestListCommands::clear_error_info_queues_failed_rows_again() {
    Rig rig;
    rig.page.Scheduler()->LimitTasks = 1;
    rig.page.Scheduler()->SetTickInterval(10);
    rig.addRows(2);
    QTest::mouseClick(rig.find<QPushButton>("btnMStartTask"), Qt::LeftButton);
    rig.slot(1)->Fail(QStringLiteral("m3u8无效"));
    QCOMPARE(rig.model()->Field(0, C::ColStatus), QStringLiteral("m3u8无效"));
    QTRY_VERIFY(rig.model()->IsRowRunning(1));
    rig.entry("N24")->trigger();
    QCOMPARE(rig.model()->Field(0, C::ColStatus), QString());
    // The running row keeps its live status.
    QCOMPARE(rig.model()->Field(1, C::ColStatus), QStringLiteral("下载中"));
    rig.slot(1)->Finish();
    QTRY_VERIFY(rig.model()->IsRowRunning(0));
    QCOMPARE(rig.model()->Field(0, C::ColStatus), QStringLiteral("下载中"));
    QCOMPARE(rig.slot(1)->Starts(), 3);
}

void TestListCommands::context_menu_shows_what_the_row_allows() {
    Rig rig;
    QStringList names;
    for (const QAction *action : rig.page.ListMenu()->actions())
        names << action->objectName();
    QCOMPARE(names,
             (QStringList{"ZYPlayer1", "N26", "N23", "N24", "PMenuSaveM3u8", "pMnuMOpenFolder"}));
    const QString local = m_base.filePath("local.m3u8");
    QFile(local).open(QIODevice::WriteOnly);
    rig.addRows(1);
    rig.page.Scheduler()->AddM3u8Task(local, m_base.filePath("out/local.mp4"), QString());
    auto shown = [&rig] {
        rig.page.pMenuMListPopup();
        return QStringList{rig.entry("PMenuSaveM3u8")->isVisible() ? "export" : "",
                           rig.entry("pMnuMOpenFolder")->isVisible() ? "folder" : ""};
    };
    QCOMPARE(shown(), (QStringList{"", ""}));
    rig.select(1);
    QCOMPARE(shown(), (QStringList{"", "folder"}));
    rig.entry("pMnuMOpenFolder")->trigger();
    QCOMPARE(rig.opened, QStringList{m_base.filePath("out")});
    rig.select(0);
    QCOMPARE(shown(), (QStringList{"export", "folder"}));
}

void TestListCommands::details_dialog_shows_the_row() {
    Rig rig;
    rig.page.Scheduler()->AddM3u8Task("http://127.0.0.1:9/a.m3u8", "/v/a.mp4", "Cookie: x\r\n");
    QStringList seen;
    QTimer::singleShot(0, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (dialog) {
            seen << dialog->objectName() << dialog->windowTitle()
                 << dialog->findChild<QLineEdit *>("edtFile")->text()
                 << dialog->findChild<QLineEdit *>("edtM3u8")->text()
                 << dialog->findChild<QPlainTextEdit *>("mmoHeaders")->toPlainText();
            QTest::mouseClick(dialog->findChild<QPushButton *>("btnReturn"), Qt::LeftButton);
        }
    });
    rig.select(0);
    rig.page.lvwMListDblClick();
    QCOMPARE(seen, (QStringList{"TfrmTaskInfo", "任务信息", "/v/a.mp4", "http://127.0.0.1:9/a.m3u8",
                                "Cookie: x\n"}));
    // Without a selection nothing opens.
    seen.clear();
    rig.list()->clearSelection();
    QTimer::singleShot(0, [&] {
        if (QWidget *dialog = QApplication::activeModalWidget()) {
            seen << dialog->objectName();
            dialog->close();
        }
    });
    rig.page.lvwMListDblClick();
    QVERIFY(seen.isEmpty());
}

void TestListCommands::failed_row_says_why_in_its_tooltip_and_details() {
    Rig rig(false);
    rig.page.Scheduler()->AddM3u8Task("http://127.0.0.1:1/x.m3u8", m_base.filePath("x.mp4"), "");
    QTest::mouseClick(rig.find<QPushButton>("btnMStartTask"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(rig.model()->Field(0, TaskListModel::ColStatus),
                              QStringLiteral("m3u8无效"), 60000);
    const QString reason =
        rig.model()->index(0, TaskListModel::ColStatus).data(Qt::ToolTipRole).toString();
    QCOMPARE(reason, QStringLiteral("Couldn't connect to server (http://127.0.0.1:1/x.m3u8)"));
    QString shown;
    QTimer::singleShot(0, [&] {
        if (QWidget *dialog = QApplication::activeModalWidget()) {
            shown = dialog->findChild<QLabel *>("lblReason")->text();
            dialog->close();
        }
    });
    rig.select(0);
    rig.page.lvwMListDblClick();
    QCOMPARE(shown, reason);
}

void TestListCommands::export_writes_full_addresses() {
    QVERIFY2(!TestStreams::Root().isEmpty(), "the test streams could not be made");
    HlsTestServer server;
    HlsServerOptions options;
    options.requireHeader = QStringLiteral("X-Token: t");
    QVERIFY2(server.start(TestStreams::Root(), options), qPrintable(server.errorString()));
    Rig rig;
    rig.page.Scheduler()->AddM3u8Task(server.url("/other.m3u8"), "/v/o.mp4", "X-Token: other");
    rig.page.Scheduler()->AddM3u8Task(server.url("/clear/index.m3u8"), "/v/a.mp4", "X-Token: t");
    rig.saveAnswer = m_base.filePath("full.m3u8");
    // The row above finishes and leaves while the dialog is open: the export keeps its own row's
    // headers.
    rig.whileSaving = [&rig] { rig.model()->RemoveRow(0); };
    rig.select(1);
    rig.entry("PMenuSaveM3u8")->trigger();
    rig.whileSaving = nullptr;
    QCOMPARE(rig.notices, (QStringList{"save|m3u8列表文件(*.m3u8)|m3u8", "保存成功|m3u8另存成功"}));
    QFile saved(rig.saveAnswer);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(saved.readAll());
    QVERIFY2(text.contains(server.url("/clear/seg0.ts")), qPrintable(text.left(300)));
    for (const QString &line : text.split("\r\n", Qt::SkipEmptyParts))
        QVERIFY2(line.startsWith('#') || line.startsWith(server.baseUrl()), qPrintable(line));

    rig.notices.clear();
    rig.page.Scheduler()->AddM3u8Task(server.url("/no/such.m3u8"), "/v/b.mp4", "X-Token: t");
    rig.select(1);
    rig.entry("PMenuSaveM3u8")->trigger();
    QCOMPARE(rig.notices.last(), QStringLiteral("提示|m3u8另存失败"));
    server.stop();
}

void TestListCommands::headers_from_the_wizard_reach_the_server() {
    if (QStandardPaths::findExecutable("aria2c").isEmpty() ||
        QStandardPaths::findExecutable("ffmpeg").isEmpty())
        QSKIP("aria2c and ffmpeg are needed");
    QVERIFY2(!TestStreams::Root().isEmpty(), "the test streams could not be made");
    HlsTestServer server;
    HlsServerOptions options;
    options.requireHeader = QStringLiteral("X-Token: a secret value");
    options.maxSeconds = 120;
    QVERIFY2(server.start(TestStreams::Root(), options), qPrintable(server.errorString()));
    Rig rig(false);
    auto *memo = rig.find<QPlainTextEdit>("mmoHeaders");
    QCOMPARE(memo->toolTip(), QStringLiteral("请求头数据，一般留空就行了"));
    memo->setPlainText("Old: header");
    QCOMPARE(memo->toolTip(), QStringLiteral("Old: header"));
    QString countText;
    QString openedWith;
    QTimer::singleShot(0, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        openedWith = dialog->findChild<QPlainTextEdit *>("mmoHeaders")->toPlainText();
        dialog->findChild<QComboBox *>("cboKeys")->setCurrentIndex(1);
        auto *value = dialog->findChild<QPlainTextEdit *>("mmoValue");
        value->setPlainText("http://korvi.test/");
        QTest::mouseClick(dialog->findChild<QPushButton *>("btnAddHeader"), Qt::LeftButton);
        dialog->findChild<QLineEdit *>("edtKey")->setText("x-token");
        value->setPlainText("a secret value");
        QTest::mouseClick(dialog->findChild<QPushButton *>("btnAddHeader"), Qt::LeftButton);
        dialog->findChild<QLineEdit *>("edtKey")->setText("X-Token");
        value->setPlainText("a secret value");
        QTest::mouseClick(dialog->findChild<QPushButton *>("btnAddHeader"), Qt::LeftButton);
        countText = dialog->findChild<QLabel *>("lblKeyCount")->text();
        QTest::mouseClick(dialog->findChild<QPushButton *>("btnOK"), Qt::LeftButton);
    });
    rig.click("btnHeaders");
    QCOMPARE(openedWith, QString());
    QCOMPARE(countText, QStringLiteral("字段数: 3"));
    // Sorted, the case-only duplicate dropped, the old block replaced.
    const QString block =
        QStringLiteral("Referer: http://korvi.test/\r\nx-token: a secret value\r\n");
    QCOMPARE(rig.page.HeadersBlock(), block);
    QCOMPARE(memo->toolTip(), memo->toPlainText());
    QVERIFY(QDir().mkpath(m_base.filePath("headers")));
    const QString out = m_base.filePath("headers/视频.mp4");
    rig.find<QLineEdit>("edtMUrl")->setText(server.url("/clear/index.m3u8"));
    rig.find<QLineEdit>("edtMPath")->setText(out);
    QTest::mouseClick(rig.find<QPushButton>("btnMAddTask"), Qt::LeftButton);
    QCOMPARE(rig.model()->Field(0, C::ColHeaders), block);
    QTest::mouseClick(rig.find<QPushButton>("btnMStartTask"), Qt::LeftButton);
    // Done when the row is gone, or failed with its error text kept.
    const auto settled = [&rig] {
        return rig.model()->Count() == 0 || !rig.model()->IsRowRunning(0);
    };
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 120000);
    QVERIFY2(rig.model()->Count() == 0,
             qPrintable(rig.model()->Field(0, C::ColStatus) + " " +
                        server.requestLog().join(QLatin1Char(' ')).right(400)));
    QVERIFY(MediaProbe::HasVideo(out));
    // The server refuses every request without the header, so each segment came with it.
    // (seg0 is fetched once more by the analysis' probe.)
    QVERIFY(server.requestLog().filter(QRegularExpression("seg[0-9]+\\.ts 200$")).size() >=
            TestStreams::SegmentCount);
    server.stop();
}

QTEST_MAIN(TestListCommands)
#include "tst_listcommands.moc"
