// The M3U8 page as a user meets it, offscreen: controls found by object name, clicked and typed
// into, with fake download objects behind the slots and recorded window services.

#include "FakeTask.h"

#include "tasks/page/M3u8Page.h"
#include "tasks/page/TimedQuestion.h"
#include "tasks/queue/TaskListModel.h"
#include "tasks/queue/TaskScheduler.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

namespace {

using C = TaskListModel;

struct Recorded {
    QString panels[3];
    QList<unsigned> progress;
    QStringList balloons;
    int sounds = 0;
    int fronts = 0;
    QStringList questions;
    QuestionAnswer answer = QuestionAnswer::No;
    int closes = 0;
};

struct PageRig {
    FakeTaskPool pool;
    Recorded seen;
    QStringList shutdowns;
    QString openAnswer;
    QString saveAnswer;
    QStringList dialogCalls;
    M3u8Page page;

    PageRig() {
        page.SetTaskFactory(pool.Factory());
        page.Scheduler()->SetShutdownRunner([this](const QString &program, const QStringList &a) {
            shutdowns << program + QLatin1Char(' ') + a.join(QLatin1Char(' '));
        });
        M3u8WindowServices services;
        services.setStatusText = [this](int panel, const QString &text) {
            if (panel >= 1 && panel <= 2)
                seen.panels[panel] = text;
        };
        services.showProgress = [this](unsigned percent) { seen.progress << percent; };
        services.showBalloon = [this](const QString &title, const QString &text, int) {
            seen.balloons << title + QLatin1Char('|') + text;
        };
        services.playDoneSound = [this] { ++seen.sounds; };
        services.bringToFront = [this] { ++seen.fronts; };
        services.askYesNo = [this](const QString &caption, const QString &text, int timeoutMs) {
            seen.questions << QStringLiteral("%1|%2|%3").arg(caption, text).arg(timeoutMs);
            return seen.answer;
        };
        services.closeMainWindow = [this] { ++seen.closes; };
        page.SetWindowServices(services);
        M3u8PageDialogs dialogs;
        dialogs.openFile = [this](QWidget *, const QString &filter, const QString &suffix) {
            dialogCalls << QStringLiteral("open|%1|%2").arg(filter, suffix);
            return openAnswer;
        };
        dialogs.saveFile = [this](QWidget *, const QString &filter, const QString &suffix) {
            dialogCalls << QStringLiteral("save|%1|%2").arg(filter, suffix);
            return saveAnswer;
        };
        page.SetDialogs(dialogs);
        page.Scheduler()->LimitTasks = 2;
        page.resize(800, 450);
        page.show();
    }
    template <typename T>
    T *find(const char *name) const {
        return page.findChild<T *>(QLatin1String(name));
    }
    QLineEdit *url() const { return find<QLineEdit>("edtMUrl"); }
    QLineEdit *path() const { return find<QLineEdit>("edtMPath"); }
    QPushButton *startButton() const { return find<QPushButton>("btnMStartTask"); }
    QTableView *list() const { return find<QTableView>("lvwMList"); }
    FakeTask *slot(int n) const { return static_cast<FakeTask *>(page.Scheduler()->Slot(n)); }
    // What the list shows in a cell, as the user reads it.
    QString cell(int row, int column) const {
        return list()->model()->index(row, column).data().toString();
    }
    void add(const QString &address, const QString &output) {
        url()->setText(address);
        path()->setText(output);
        QTest::mouseClick(find<QPushButton>("btnMAddTask"), Qt::LeftButton);
    }
    void selectRow(int row) {
        list()->setFocus();
        list()->selectRow(row);
    }
};

QString UrlOf(int n) {
    return QStringLiteral("http://127.0.0.1:9/v%1/index.m3u8").arg(n);
}

}  // namespace

class TestM3u8Page : public QObject {
    Q_OBJECT
private slots:
    void controls_carry_their_names_captions_and_hints();
    void list_shows_the_seven_columns_with_the_id_hidden();
    void add_button_appends_a_row_and_keeps_the_fields();
    void add_button_with_an_empty_field_adds_nothing();
    void start_button_toggles_between_start_and_stop();
    void progress_reaches_the_row_and_the_window();
    void local_playlist_proposes_an_mp4_beside_it_data();
    void local_playlist_proposes_an_mp4_beside_it();
    void double_click_clears_or_pastes_the_address();
    void open_and_save_buttons_fill_the_fields();
    void cancelled_dialogs_leave_the_fields_alone();
    void delete_key_removes_an_idle_row_and_renumbers();
    void delete_key_leaves_a_running_row();
    void shutdown_menu_item_arms_the_shutdown_question();
    void timed_question_answers_yes_on_time_out();
    void timed_question_takes_the_users_no();
};

void TestM3u8Page::controls_carry_their_names_captions_and_hints() {
    PageRig rig;
    QCOMPARE(rig.page.objectName(), QStringLiteral("TabSheet3"));
    QVERIFY(rig.url());
    QCOMPARE(rig.url()->toolTip(), QStringLiteral("双击粘贴/清空网址,也可 可拖拽本地m3u8到此处"));
    QCOMPARE(rig.find<QToolButton>("btnMOpen")->toolTip(), QStringLiteral("打开本地m3u8文件"));
    QCOMPARE(rig.path()->toolTip(), QStringLiteral("m3u8片段合并后保存的文件名"));
    QVERIFY(rig.find<QToolButton>("btnMSave"));
    QVERIFY(rig.find<QPlainTextEdit>("mmoHeaders"));
    QCOMPARE(rig.find<QPushButton>("btnMAddTask")->text(), QStringLiteral("添加任务"));
    QCOMPARE(rig.startButton()->text(), QStringLiteral("开始下载"));
    QVERIFY(!rig.startButton()->icon().isNull());
    QVERIFY(rig.find<QWidget>("gbMLvwBtns"));
    QAction *n25 = rig.page.ShutdownAction();
    QCOMPARE(n25->objectName(), QStringLiteral("N25"));
    QCOMPARE(n25->text(), QStringLiteral("下载完后关机"));
    QVERIFY(n25->isCheckable());
    QVERIFY(!n25->isChecked());
}

void TestM3u8Page::list_shows_the_seven_columns_with_the_id_hidden() {
    PageRig rig;
    QTableView *list = rig.list();
    QCOMPARE(list->model(), rig.page.Model());
    QCOMPARE(list->model()->columnCount(), 7);
    const QStringList captions{QStringLiteral("ID"),    QStringLiteral("序号"),
                               QStringLiteral("状态"),  QStringLiteral("进度"),
                               QStringLiteral("文件"),  QStringLiteral("m3u8"),
                               QStringLiteral("请求头")};
    for (int column = 0; column < 7; ++column)
        QCOMPARE(list->model()->headerData(column, Qt::Horizontal).toString(), captions[column]);
    QVERIFY(list->isColumnHidden(C::ColId));
    QCOMPARE(list->columnWidth(C::ColNumber), 40);
    QCOMPARE(list->columnWidth(C::ColStatus), 90);
    QCOMPARE(list->columnWidth(C::ColProgress), 60);
    QCOMPARE(list->columnWidth(C::ColUrl), 150);
    QCOMPARE(list->columnWidth(C::ColHeaders), 60);
    QCOMPARE(list->horizontalHeader()->sectionResizeMode(C::ColFile), QHeaderView::Stretch);
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
}

void TestM3u8Page::add_button_appends_a_row_and_keeps_the_fields() {
    PageRig rig;
    rig.find<QPlainTextEdit>("mmoHeaders")
        ->setPlainText(QStringLiteral("Referer: http://r/\nCookie: 会话=1"));
    rig.add(QStringLiteral("  ") + UrlOf(1) + QStringLiteral(" "), QStringLiteral("/v/第1集.mp4"));
    rig.add(UrlOf(2), QStringLiteral("/v/b.mp4"));
    QCOMPARE(rig.list()->model()->rowCount(), 2);
    QCOMPARE(rig.cell(0, C::ColNumber), QStringLiteral("1"));
    QCOMPARE(rig.cell(1, C::ColNumber), QStringLiteral("2"));
    QCOMPARE(rig.cell(0, C::ColUrl), UrlOf(1));
    QCOMPARE(rig.cell(0, C::ColFile), QStringLiteral("/v/第1集.mp4"));
    QCOMPARE(rig.cell(0, C::ColHeaders), QStringLiteral("Referer: http://r/\r\nCookie: 会话=1"));
    QVERIFY(rig.cell(0, C::ColStatus).isEmpty());
    QCOMPARE(rig.url()->text(), UrlOf(2));
    QCOMPARE(rig.path()->text(), QStringLiteral("/v/b.mp4"));
    QVERIFY(!rig.slot(1));  // adding while idle starts nothing
}

void TestM3u8Page::add_button_with_an_empty_field_adds_nothing() {
    PageRig rig;
    rig.add(UrlOf(1), QStringLiteral("   "));
    rig.add(QString(), QStringLiteral("/v/a.mp4"));
    QCOMPARE(rig.list()->model()->rowCount(), 0);
}

void TestM3u8Page::start_button_toggles_between_start_and_stop() {
    PageRig rig;
    QTest::mouseClick(rig.startButton(), Qt::LeftButton);  // an empty list: nothing happens
    QCOMPARE(rig.startButton()->text(), QStringLiteral("开始下载"));
    const qint64 startIcon = rig.startButton()->icon().cacheKey();

    for (int n = 1; n <= 3; ++n)
        rig.add(UrlOf(n), QStringLiteral("/v/%1.mp4").arg(n));
    QTest::mouseClick(rig.startButton(), Qt::LeftButton);
    QCOMPARE(rig.startButton()->text(), QStringLiteral("停止任务"));
    QVERIFY(rig.startButton()->icon().cacheKey() != startIcon);
    QVERIFY(rig.startButton()->isEnabled());
    QCOMPARE(rig.cell(0, C::ColStatus), QStringLiteral("下载中"));
    QCOMPARE(rig.cell(1, C::ColStatus), QStringLiteral("下载中"));
    QVERIFY(rig.cell(2, C::ColStatus).isEmpty());

    QTest::mouseClick(rig.startButton(), Qt::LeftButton);
    QCOMPARE(rig.startButton()->text(), QStringLiteral("开始下载"));
    QCOMPARE(rig.seen.progress.last(), 0u);
    QVERIFY(rig.slot(1)->StopRequested());
    rig.slot(1)->ReportStop();
    QVERIFY(rig.cell(0, C::ColStatus).isEmpty());
}

void TestM3u8Page::progress_reaches_the_row_and_the_window() {
    PageRig rig;
    rig.add(UrlOf(1), QStringLiteral("/v/clip.mp4"));
    QTest::mouseClick(rig.startButton(), Qt::LeftButton);
    rig.slot(1)->Progress(QStringLiteral("clip"), 13.5f, QStringLiteral("下载中"));
    QCOMPARE(rig.cell(0, C::ColProgress), QStringLiteral("13.50%"));
    QCOMPARE(rig.seen.panels[1], QStringLiteral("clip"));
    QCOMPARE(rig.seen.panels[2], QStringLiteral("下载中 13.50%"));
    QCOMPARE(rig.seen.progress.last(), 14u);

    rig.slot(1)->Finish();
    QCOMPARE(rig.list()->model()->rowCount(), 0);
    QCOMPARE(rig.seen.balloons, QStringList{QStringLiteral("任务完成|clip.mp4")});
    QCOMPARE(rig.seen.sounds, 1);
    rig.page.Scheduler()->tmrDownloadTimer();
    QCOMPARE(rig.seen.fronts, 1);
    QCOMPARE(rig.startButton()->text(), QStringLiteral("开始下载"));
    QVERIFY(rig.seen.panels[1].isEmpty());
    QVERIFY(rig.seen.panels[2].isEmpty());
}

void TestM3u8Page::local_playlist_proposes_an_mp4_beside_it_data() {
    QTest::addColumn<QString>("fileName");  // created in a temporary folder; empty = none
    QTest::addColumn<QString>("typed");     // "@" stands for the folder
    QTest::addColumn<QString>("expected");  // edtMPath afterwards; "@" as above
    QTest::newRow("existing a.m3u8") << "a.m3u8"
                                     << "@/a.m3u8"
                                     << "@/a.mp4";
    QTest::newRow("upper-case extension") << "B.M3U8"
                                          << "@/B.M3U8"
                                          << "@/B.mp4";
    QTest::newRow("missing file") << ""
                                  << "@/gone.m3u8"
                                  << "kept.mp4";
    QTest::newRow("m3u is not proposed") << "c.m3u"
                                         << "@/c.m3u"
                                         << "kept.mp4";
    QTest::newRow("an address") << ""
                                << "http://h/x.m3u8"
                                << "kept.mp4";
    QTest::newRow("a folder named like a playlist") << ""
                                                    << "@/dir.m3u8"
                                                    << "kept.mp4";
}

void TestM3u8Page::local_playlist_proposes_an_mp4_beside_it() {
    QFETCH(QString, fileName);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("dir.m3u8")));
    if (!fileName.isEmpty()) {
        QFile file(dir.filePath(fileName));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#EXTM3U\n");
    }
    PageRig rig;
    rig.path()->setText(QStringLiteral("kept.mp4"));
    rig.url()->setText(typed.replace(QLatin1Char('@'), dir.path()));
    QCOMPARE(rig.path()->text(), expected.replace(QLatin1Char('@'), dir.path()));
}

void TestM3u8Page::double_click_clears_or_pastes_the_address() {
    PageRig rig;
    rig.url()->setText(UrlOf(1));
    QTest::mouseDClick(rig.url(), Qt::LeftButton);
    QVERIFY(rig.url()->text().isEmpty());

    QGuiApplication::clipboard()->setText(UrlOf(2));
    rig.url()->setText(QStringLiteral("   "));
    QTest::mouseDClick(rig.url(), Qt::LeftButton);
    QCOMPARE(rig.url()->text(), UrlOf(2));
}

void TestM3u8Page::open_and_save_buttons_fill_the_fields() {
    QTemporaryDir dir;
    const QString playlist = dir.filePath(QStringLiteral("local.m3u8"));
    QFile file(playlist);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    PageRig rig;
    rig.openAnswer = playlist;
    QTest::mouseClick(rig.find<QToolButton>("btnMOpen"), Qt::LeftButton);
    QCOMPARE(rig.url()->text(), playlist);
    QCOMPARE(rig.path()->text(), dir.filePath(QStringLiteral("local.mp4")));

    rig.saveAnswer = QStringLiteral("/v/my clip.mp4");
    QTest::mouseClick(rig.find<QToolButton>("btnMSave"), Qt::LeftButton);
    QCOMPARE(rig.path()->text(), QStringLiteral("/v/my clip.mp4"));
    QCOMPARE(rig.dialogCalls,
             (QStringList{QStringLiteral("open|m3u8列表文件(*.m3u8 *.m3u);;所有文件(*.*)|m3u8"),
                          QStringLiteral("save|MP4视频(*.mp4);;其它文件格式(*.*)|mp4")}));
}

void TestM3u8Page::cancelled_dialogs_leave_the_fields_alone() {
    PageRig rig;
    rig.url()->setText(UrlOf(1));
    rig.path()->setText(QStringLiteral("/v/a.mp4"));
    QTest::mouseClick(rig.find<QToolButton>("btnMOpen"), Qt::LeftButton);
    QTest::mouseClick(rig.find<QToolButton>("btnMSave"), Qt::LeftButton);
    QCOMPARE(rig.dialogCalls.size(), 2);
    QCOMPARE(rig.url()->text(), UrlOf(1));
    QCOMPARE(rig.path()->text(), QStringLiteral("/v/a.mp4"));
}

void TestM3u8Page::delete_key_removes_an_idle_row_and_renumbers() {
    PageRig rig;
    for (int n = 1; n <= 3; ++n)
        rig.add(UrlOf(n), QStringLiteral("/v/%1.mp4").arg(n));
    rig.selectRow(0);
    QTest::keyClick(rig.list(), Qt::Key_Delete);
    QCOMPARE(rig.list()->model()->rowCount(), 2);
    QCOMPARE(rig.cell(0, C::ColUrl), UrlOf(2));
    QCOMPARE(rig.cell(0, C::ColNumber), QStringLiteral("1"));
    QCOMPARE(rig.cell(1, C::ColNumber), QStringLiteral("2"));

    rig.list()->clearSelection();
    QTest::keyClick(rig.list(), Qt::Key_Delete);
    QCOMPARE(rig.list()->model()->rowCount(), 2);
}

void TestM3u8Page::delete_key_leaves_a_running_row() {
    PageRig rig;
    rig.page.Scheduler()->LimitTasks = 1;
    for (int n = 1; n <= 2; ++n)
        rig.add(UrlOf(n), QStringLiteral("/v/%1.mp4").arg(n));
    QTest::mouseClick(rig.startButton(), Qt::LeftButton);
    rig.selectRow(0);
    QTest::keyClick(rig.list(), Qt::Key_Delete);
    QCOMPARE(rig.list()->model()->rowCount(), 2);
    QCOMPARE(rig.cell(0, C::ColStatus), QStringLiteral("下载中"));
    // Its task still reports into it.
    rig.slot(1)->Progress(QStringLiteral("1"), 50, QStringLiteral("下载中"));
    QCOMPARE(rig.cell(0, C::ColProgress), QStringLiteral("50.00%"));
}

void TestM3u8Page::shutdown_menu_item_arms_the_shutdown_question() {
    PageRig rig;
    rig.seen.answer = QuestionAnswer::TimedOut;
    QAction *n25 = rig.page.ShutdownAction();
    n25->trigger();
    QVERIFY(n25->isChecked());
    QVERIFY(rig.page.Scheduler()->ShutdownAfterDownload);
    n25->trigger();
    QVERIFY(!rig.page.Scheduler()->ShutdownAfterDownload);
    n25->trigger();

    rig.add(UrlOf(1), QStringLiteral("/v/1.mp4"));
    QTest::mouseClick(rig.startButton(), Qt::LeftButton);
    rig.slot(1)->Finish();
    rig.page.Scheduler()->tmrDownloadTimer();
    QCOMPARE(rig.seen.questions,
             QStringList{QStringLiteral("任务下载完成后关机|是否需要关机？|10000")});
    QCOMPARE(rig.shutdowns, QStringList{QStringLiteral("shutdown -P +1")});
    QCOMPARE(rig.seen.closes, 1);
}

void TestM3u8Page::timed_question_answers_yes_on_time_out() {
    QWidget owner;
    owner.show();
    QElapsedTimer clock;
    clock.start();
    const QuestionAnswer answer = AskTimedQuestion(&owner, QStringLiteral("任务下载完成后关机"),
                                                   QStringLiteral("是否需要关机？"), 200);
    QCOMPARE(answer, QuestionAnswer::TimedOut);
    QVERIFY(clock.elapsed() >= 150);
    QVERIFY(!owner.findChild<QMessageBox *>());
}

void TestM3u8Page::timed_question_takes_the_users_no() {
    QWidget owner;
    owner.show();
    QString caption;
    QString text;
    bool questionIcon = false;
    // Answers as a user would once the box is up; the time-out is far away.
    QTimer::singleShot(100, &owner, [&] {
        auto *box = owner.findChild<QMessageBox *>(QStringLiteral("TimedQuestion"));
        QVERIFY(box);
        caption = box->windowTitle();
        text = box->text();
        questionIcon = box->icon() == QMessageBox::Question;
        QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    });
    const QuestionAnswer answer = AskTimedQuestion(&owner, QStringLiteral("任务下载完成后关机"),
                                                   QStringLiteral("是否需要关机？"), 60000);
    QCOMPARE(answer, QuestionAnswer::No);
    QCOMPARE(caption, QStringLiteral("任务下载完成后关机"));
    QCOMPARE(text, QStringLiteral("是否需要关机？"));
    QVERIFY(questionIcon);
}

QTEST_MAIN(TestM3u8Page)
#include "tst_m3u8page.moc"
