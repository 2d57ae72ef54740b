// The download queue in the real main window, offscreen: the local test server, real aria2c and
// ffmpeg, the task limit read from the settings file and the task list saved beside it.

#include "HlsTestServer.h"
#include "MediaProbe.h"
#include "TestStreams.h"
#include "TestTools.h"

#include "app/MessageService.h"
#include "app/UnitFormMain.h"
#include "tasks/page/M3u8Page.h"
#include "tasks/queue/TaskListModel.h"
#include "tasks/queue/TaskScheduler.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

using C = TaskListModel;

class CountingMessages : public MessageService {
public:
    void ShowError(QWidget *, const QString &, const QString &text) override { shown << text; }
    void ShowWarning(QWidget *, const QString &, const QString &text) override { shown << text; }
    void ShowInformation(QWidget *, const QString &, const QString &text) override {
        shown << text;
    }
    QStringList shown;
};

bool WriteText(const QString &path, const QByteArray &text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

}  // namespace

class TestM3u8Window : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void three_tasks_with_limit_two_finish_in_the_window();
    void close_while_downloading_refuses_once_then_saves_the_rows_queued();
    void pasted_curl_request_downloads_with_its_headers();
    void stop_button_ends_a_live_recording_and_merges_it();

private:
    // A window with its own settings folder holding LimitTasks 2.
    MainWindowSeams Seams(const QString &folder);
    void AddTask(TfrmMain &window, const QString &url, const QString &out);

    QTemporaryDir m_base;
    CountingMessages m_messages;
};

void TestM3u8Window::initTestCase() {
    QVERIFY(m_base.isValid());
    TestTools::IsolateEnvironment(m_base.path());
    if (QStandardPaths::findExecutable("aria2c").isEmpty() ||
        QStandardPaths::findExecutable("ffmpeg").isEmpty() ||
        QStandardPaths::findExecutable("ffprobe").isEmpty())
        QSKIP("aria2c, ffmpeg and ffprobe are needed");
    QVERIFY2(!TestStreams::Root().isEmpty(), "the test streams could not be made");
}

MainWindowSeams TestM3u8Window::Seams(const QString &folder) {
    QDir().mkpath(folder);
    const QString ini = QDir(folder).filePath(QStringLiteral("korvi.ini"));
    WriteText(ini, "[Options]\r\nLimitTasks=2\r\nSoundTips=False\r\n");
    MainWindowSeams seams;
    seams.iniPath = ini;
    seams.messages = &m_messages;
    seams.isWin64 = [] { return true; };
    // Without a tray the close box closes, as it must for the close query to be seen.
    seams.trayAvailable = [] { return false; };
    return seams;
}

void TestM3u8Window::AddTask(TfrmMain &window, const QString &url, const QString &out) {
    window.findChild<QLineEdit *>(QStringLiteral("edtMUrl"))->setText(url);
    window.findChild<QLineEdit *>(QStringLiteral("edtMPath"))->setText(out);
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("btnMAddTask")),
                      Qt::LeftButton);
}

void TestM3u8Window::three_tasks_with_limit_two_finish_in_the_window() {
    HlsTestServer server;
    QVERIFY2(server.start(TestStreams::Root()), qPrintable(server.errorString()));
    const QString folder = m_base.filePath(QStringLiteral("finish"));
    TfrmMain window(Seams(folder));
    window.SelectPage(TfrmMain::kM3u8Page);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    TaskScheduler *scheduler = window.M3u8()->Scheduler();
    QCOMPARE(scheduler->LimitTasks, 2u);
    QVERIFY(!scheduler->SoundTips);
    auto *menu = window.findChild<QMenu *>(QStringLiteral("mnuM3u8"));
    QVERIFY(menu);
    QVERIFY(menu->actions().contains(window.M3u8()->ShutdownAction()));
    QStringList entries;
    for (const QAction *action : menu->actions())
        entries << action->objectName();
    QCOMPARE(entries, (QStringList{"mnuOpenTemp", "mnuImportM3u", "N27", "N25"}));

    const QStringList paths{QStringLiteral("/clear/index.m3u8"), QStringLiteral("/aes/index.m3u8"),
                            QStringLiteral("/master.m3u8")};
    QStringList outputs;
    for (int n = 0; n < 3; ++n) {
        outputs << QDir(folder).filePath(QStringLiteral("视频 %1.mp4").arg(n + 1));
        AddTask(window, server.url(paths[n]), outputs.last());
    }
    auto *list = window.findChild<QTableView *>(QStringLiteral("lvwMList"));
    QCOMPARE(list->model()->rowCount(), 3);

    auto *start = window.findChild<QPushButton *>(QStringLiteral("btnMStartTask"));
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(start->text(), QStringLiteral("停止任务"));
    QVERIFY(!scheduler->Slot(3));
    QTRY_VERIFY_WITH_TIMEOUT(list->model()->rowCount() == 0 && scheduler->IsStopped(), 120000);
    QCOMPARE(start->text(), QStringLiteral("开始下载"));
    QVERIFY(!scheduler->Slot(3));

    for (const QString &output : outputs) {
        QVERIFY2(MediaProbe::HasVideo(output), qPrintable(output));
        QVERIFY2(std::fabs(MediaProbe::Duration(output) - TestStreams::SourceDuration()) < 0.5,
                 qPrintable(output));
    }
    QCOMPARE(MediaProbe::VideoSize(outputs[2]), QSize(TestStreams::V1Width, TestStreams::V1Height));
    server.stop();
}

void TestM3u8Window::close_while_downloading_refuses_once_then_saves_the_rows_queued() {
    HlsTestServer server;
    HlsServerOptions options;
    // The first segment arrives (the analysis probes it); the others never do.
    options.stallPattern = QStringLiteral("seg[1-9][0-9]*\\.ts$");
    QVERIFY2(server.start(TestStreams::Root(), options), qPrintable(server.errorString()));
    const QString folder = m_base.filePath(QStringLiteral("close"));
    QStringList urls;
    {
        TfrmMain window(Seams(folder));
        window.SelectPage(TfrmMain::kM3u8Page);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (int n = 1; n <= 3; ++n) {
            urls << server.url(QStringLiteral("/clear/index.m3u8?copy=%1").arg(n));
            AddTask(window, urls.last(), QDir(folder).filePath(QStringLiteral("v%1.mp4").arg(n)));
        }
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("btnMStartTask")),
                          Qt::LeftButton);
        TaskScheduler *scheduler = window.M3u8()->Scheduler();
        QTRY_VERIFY_WITH_TIMEOUT(server.countRequests(QStringLiteral("seg[1-9][0-9]*\\.ts$")) >= 2,
                                 20000);

        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!scheduler->AnyTaskRunning(), 20000);
        TaskListModel *model = window.M3u8()->Model();
        QCOMPARE(model->Count(), 3);
        for (int row = 0; row < 3; ++row)
            QVERIFY(model->IsRowQueued(row) && !model->IsRowRunning(row));
        QVERIFY(window.close());
    }
    server.stop();

    QFile saved(QDir(folder).filePath(QStringLiteral("Tasks.dat")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = saved.readAll().split('\n');
    QCOMPARE(lines.size(), 4);  // three lines, each ending in CR LF
    for (int n = 0; n < 3; ++n)
        QCOMPARE(QString::fromUtf8(lines[n]),
                 QDir(folder).filePath(QStringLiteral("v%1.mp4").arg(n + 1)) + QLatin1Char('|') +
                     urls[n] + QStringLiteral("|\r"));

    // The next start shows them again, queued and idle.
    TfrmMain again(Seams(folder));
    TaskListModel *model = again.M3u8()->Model();
    QCOMPARE(model->Count(), 3);
    QCOMPARE(model->Field(2, C::ColUrl), urls[2]);
    QVERIFY(model->IsRowQueued(2));
    QVERIFY(again.M3u8()->Scheduler()->IsStopped());
}

void TestM3u8Window::pasted_curl_request_downloads_with_its_headers() {
    HlsTestServer server;
    HlsServerOptions options;
    options.requireHeader = QStringLiteral("Referer: http://127.0.0.1/player");
    options.extraArgs << QStringLiteral("--also-require-header")
                      << QStringLiteral("Cookie: sid=k1; seen=1");
    QVERIFY2(server.start(TestStreams::Root(), options), qPrintable(server.errorString()));
    const QString folder = m_base.filePath(QStringLiteral("paste"));
    TfrmMain window(Seams(folder));
    window.SelectPage(TfrmMain::kM3u8Page);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QString url = server.url(QStringLiteral("/clear/index.m3u8"));
    QGuiApplication::clipboard()->setText(
        QStringLiteral("curl '%1' \\\n  -H 'Accept: */*' \\\n  -H 'Referer: "
                       "http://127.0.0.1/player' \\\n  -b 'sid=k1; seen=1' \\\n  -H 'Range: "
                       "bytes=0-' \\\n  --compressed")
            .arg(url));
    auto *address = window.findChild<QLineEdit *>(QStringLiteral("edtMUrl"));
    address->setFocus();
    QTest::keyClick(address, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(address->text(), url);
    QCOMPARE(window.M3u8()->HeadersBlock(),
             QStringLiteral("Accept: */*\r\nCookie: sid=k1; seen=1\r\nReferer: "
                            "http://127.0.0.1/player\r\n"));

    const QString output = QDir(folder).filePath(QStringLiteral("pasted.mp4"));
    AddTask(window, address->text(), output);
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("btnMStartTask")),
                      Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window.M3u8()->Scheduler()->IsStopped(), 120000);
    QCOMPARE(window.M3u8()->Model()->Count(), 0);
    QVERIFY(MediaProbe::HasVideo(output));
    QVERIFY(std::fabs(MediaProbe::Duration(output) - TestStreams::SourceDuration()) < 0.5);
    // The server answers nothing without both headers.
    QVERIFY(server.countRequests(QStringLiteral("\\.ts$")) > 0);
    server.stop();
}

// A playlist the server grows one segment a second and never ends: the row records, and the
// stop button has what it recorded merged instead of stopping the task.
void TestM3u8Window::stop_button_ends_a_live_recording_and_merges_it() {
    HlsTestServer server;
    HlsServerOptions options;
    options.maxSeconds = 120;
    options.extraArgs = QStringList{"--live", "^/live/rec\\.m3u8$=/livesrc/index.m3u8"};
    QVERIFY2(server.start(TestStreams::Root(), options), qPrintable(server.errorString()));
    const QString folder = m_base.filePath(QStringLiteral("live"));
    TfrmMain window(Seams(folder));
    window.SelectPage(TfrmMain::kM3u8Page);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QString output = QDir(folder).filePath(QStringLiteral("直播.mp4"));
    AddTask(window, server.url(QStringLiteral("/live/rec.m3u8")), output);
    auto *list = window.findChild<QTableView *>(QStringLiteral("lvwMList"));
    auto *start = window.findChild<QPushButton *>(QStringLiteral("btnMStartTask"));
    QTest::mouseClick(start, Qt::LeftButton);
    const auto shown = [list](int column) {
        return list->model()->index(0, column).data().toString();
    };
    QTRY_VERIFY_WITH_TIMEOUT(shown(C::ColStatus) == QStringLiteral("录制中") &&
                                 shown(C::ColProgress) >= QStringLiteral("00:00:05"),
                             30000);
    QVERIFY2(shown(C::ColProgress) < QStringLiteral("00:01:00"), qPrintable(shown(C::ColProgress)));
    QTest::mouseClick(start, Qt::LeftButton);
    TaskScheduler *scheduler = window.M3u8()->Scheduler();
    QTRY_VERIFY_WITH_TIMEOUT(list->model()->rowCount() == 0 && scheduler->IsStopped(), 60000);
    QVERIFY(MediaProbe::HasVideo(output));
    QVERIFY2(MediaProbe::Duration(output) >= 4.0, qPrintable(output));
    server.stop();
}

QTEST_MAIN(TestM3u8Window)
#include "tst_m3u8window.moc"
