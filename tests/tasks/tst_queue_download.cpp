// The queue driving the real download object end to end: the local test server on 127.0.0.1,
// real aria2c and ffmpeg, outputs checked with ffprobe. The window is replaced by the recording
// host, so the scheduler's own decisions are what is under test.

#include "FakeTask.h"

#include "HlsTestServer.h"
#include "MediaProbe.h"
#include "TestStreams.h"
#include "TestTools.h"

#include "tasks/queue/TM3u8Task.h"
#include "tasks/queue/TaskListModel.h"
#include "tasks/queue/TaskScheduler.h"
#include "tasks/queue/TaskStore.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

using C = TaskListModel;

struct Rig {
    TaskListModel model;
    FakeHost host;
    TaskScheduler scheduler{&model, &host, MakeTM3u8Task};

    explicit Rig(quint32 limit) {
        scheduler.LimitTasks = limit;
        scheduler.SoundTips = false;
        scheduler.SetTickInterval(100);
        scheduler.SetShutdownRunner([](const QString &, const QStringList &) {
            QFAIL("no shut-down may be requested here");
        });
    }
};

}  // namespace

class TestQueueDownload : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void three_tasks_with_limit_two_all_finish_and_leave_the_list();
    void close_while_downloading_stops_first_then_saves_rows_queued();
    void unpreparable_work_folder_fails_the_row_instead_of_escaping();

private:
    QTemporaryDir m_base;
    QString m_out;
};

void TestQueueDownload::initTestCase() {
    QVERIFY(m_base.isValid());
    // Work folders, the trash and any proxy stay inside this test's own folder and the loopback.
    TestTools::IsolateEnvironment(m_base.path());
    m_out = m_base.filePath("out");
    QVERIFY(QDir().mkpath(m_out));

    if (QStandardPaths::findExecutable("aria2c").isEmpty() ||
        QStandardPaths::findExecutable("ffmpeg").isEmpty() ||
        QStandardPaths::findExecutable("ffprobe").isEmpty())
        QSKIP("aria2c, ffmpeg and ffprobe are needed");
    QVERIFY2(!TestStreams::Root().isEmpty(), "the test streams could not be made");
}

void TestQueueDownload::three_tasks_with_limit_two_all_finish_and_leave_the_list() {
    HlsTestServer server;
    QVERIFY2(server.start(TestStreams::Root()), qPrintable(server.errorString()));

    Rig rig(2);
    const QStringList paths{QStringLiteral("/clear/index.m3u8"), QStringLiteral("/aes/index.m3u8"),
                            QStringLiteral("/master.m3u8")};
    QStringList outputs;
    for (int n = 0; n < paths.size(); ++n) {
        outputs << m_out + QStringLiteral("/第%1集 clip.mp4").arg(n + 1);
        rig.scheduler.AddM3u8Task(server.url(paths[n]), outputs.last(), QString());
    }
    int mostRunning = 0;
    connect(&rig.model, &QAbstractItemModel::dataChanged, this, [&] {
        int running = 0;
        for (int row = 0; row < rig.model.Count(); ++row)
            running += rig.model.IsRowRunning(row) ? 1 : 0;
        mostRunning = std::max(mostRunning, running);
    });

    rig.scheduler.btnMStartTaskClick();
    QCOMPARE(rig.host.caption, QStringLiteral("停止任务"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.host.fronts == 1, 120000);

    QCOMPARE(rig.model.Count(), 0);
    QVERIFY(rig.scheduler.IsStopped());
    QCOMPARE(rig.host.caption, QStringLiteral("开始下载"));
    QCOMPARE(rig.host.progress.last(), 0u);
    QCOMPARE(mostRunning, 2);
    QVERIFY(!rig.scheduler.Slot(3));
    QCOMPARE(rig.host.balloons.size(), 3);
    for (const Balloon &balloon : rig.host.balloons)
        QCOMPARE(balloon.title, QStringLiteral("任务完成"));

    const double expected = TestStreams::SourceDuration();
    QVERIFY(expected > 0);
    for (int n = 0; n < outputs.size(); ++n) {
        QVERIFY2(MediaProbe::HasVideo(outputs[n]), qPrintable(outputs[n]));
        QVERIFY2(std::fabs(MediaProbe::Duration(outputs[n]) - expected) < 0.5,
                 qPrintable(outputs[n]));
    }
    QCOMPARE(MediaProbe::VideoSize(outputs[0]),
             QSize(TestStreams::SourceWidth, TestStreams::SourceHeight));
    QCOMPARE(MediaProbe::VideoSize(outputs[1]),
             QSize(TestStreams::SourceWidth, TestStreams::SourceHeight));
    QCOMPARE(MediaProbe::VideoSize(outputs[2]), QSize(TestStreams::V1Width, TestStreams::V1Height));
    server.stop();
}

void TestQueueDownload::close_while_downloading_stops_first_then_saves_rows_queued() {
    HlsTestServer server;
    HlsServerOptions options;
    // The first segment arrives (the analysis probes it); the others never do.
    options.stallPattern = QStringLiteral("seg[1-9][0-9]*\\.ts$");
    QVERIFY2(server.start(TestStreams::Root(), options), qPrintable(server.errorString()));

    Rig rig(2);
    for (int n = 1; n <= 3; ++n)
        rig.scheduler.AddM3u8Task(server.url(QStringLiteral("/clear/index.m3u8?copy=%1").arg(n)),
                                  m_out + QStringLiteral("/stopped %1.mp4").arg(n),
                                  QStringLiteral("X-Copy: %1").arg(n));
    rig.scheduler.btnMStartTaskClick();
    QVERIFY(rig.scheduler.AnyTaskRunning());
    QTRY_VERIFY_WITH_TIMEOUT(server.countRequests(QStringLiteral("seg[1-9][0-9]*\\.ts$")) >= 2,
                             20000);

    QVERIFY(!rig.scheduler.FormCloseQuery());
    QVERIFY(!rig.scheduler.IsStopped());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.scheduler.AnyTaskRunning(), 20000);
    QVERIFY(rig.scheduler.FormCloseQuery());
    for (int row = 0; row < 3; ++row) {
        QVERIFY(rig.model.Field(row, C::ColId).isEmpty());
        QVERIFY(rig.model.Field(row, C::ColStatus).isEmpty());
        QVERIFY(rig.model.Field(row, C::ColProgress).isEmpty());
    }
    server.stop();

    const QString file = TasksFilePath(m_base.path());
    QVERIFY(SaveTasks(rig.model, file));
    TaskListModel model;
    FakeHost host;
    FakeTaskPool pool;
    TaskScheduler loaded(&model, &host, pool.Factory());
    QCOMPARE(LoadTasks(loaded, file), 3);
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(model.Field(row, C::ColUrl), rig.model.Field(row, C::ColUrl));
        QCOMPARE(model.Field(row, C::ColFile), rig.model.Field(row, C::ColFile));
        QCOMPARE(model.Field(row, C::ColHeaders), QStringLiteral("X-Copy: %1").arg(row + 1));
        QVERIFY(model.IsRowQueued(row));
    }
    for (int n = 1; n <= 3; ++n)
        QVERIFY(!QFile::exists(m_out + QStringLiteral("/stopped %1.mp4").arg(n)));
}

void TestQueueDownload::unpreparable_work_folder_fails_the_row_instead_of_escaping() {
    // A temporary "folder" that is a plain file: no work folder can be made inside it.
    const QString blocker = m_base.filePath(QStringLiteral("blocker"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", blocker.toUtf8());
    Rig rig(1);
    rig.scheduler.AddM3u8Task(QStringLiteral("http://127.0.0.1:9/none/index.m3u8"),
                              m_out + QStringLiteral("/never.mp4"), QString());
    rig.scheduler.btnMStartTaskClick();
    qputenv("TMPDIR", saved);

    QCOMPARE(rig.model.Count(), 1);
    QVERIFY(!rig.model.Field(0, C::ColStatus).isEmpty());
    // The reason names the folder that could not be made.
    QVERIFY2(rig.model.Field(0, C::ColStatus).contains(blocker),
             qPrintable(rig.model.Field(0, C::ColStatus)));
    QVERIFY(rig.model.Field(0, C::ColId).isEmpty());
    QVERIFY(!rig.scheduler.AnyTaskRunning());
    QCOMPARE(rig.host.balloons.size(), 1);
    QCOMPARE(rig.host.balloons[0].title, QStringLiteral("任务出错"));
    // The failed row is not retried: the next tick finds nothing to do.
    rig.scheduler.tmrDownloadTimer();
    QVERIFY(rig.scheduler.IsStopped());
    QCOMPARE(rig.host.fronts, 1);
}

QTEST_GUILESS_MAIN(TestQueueDownload)
#include "tst_queue_download.moc"
