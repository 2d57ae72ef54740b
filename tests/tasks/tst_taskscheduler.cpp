// The scheduler over five slots, driven headless: fake task objects report whatever each case
// needs, and a fake host records what the window would show.

#include "FakeTask.h"

#include "tasks/queue/TaskListModel.h"
#include "tasks/queue/TaskScheduler.h"

#include <QDir>
#include <QTimer>
#include <QtTest>

namespace {

using C = TaskListModel;

QString UrlOf(int n) {
    return QStringLiteral("http://127.0.0.1:9/v%1/index.m3u8").arg(n);
}

QString OutOf(int n) {
    return QStringLiteral("/data/videos/clip%1.mp4").arg(n);
}

struct ShutdownCall {
    QString program;
    QStringList arguments;
};

// Declared in destruction order: the scheduler goes first, then the fakes' pool and the rows.
struct Rig {
    TaskListModel model;
    FakeHost host;
    FakeTaskPool pool;
    QList<ShutdownCall> shutdowns;
    TaskScheduler scheduler{&model, &host, pool.Factory()};

    explicit Rig(quint32 limit, int rows = 0) {
        scheduler.LimitTasks = limit;
        scheduler.SetShutdownRunner([this](const QString &program, const QStringList &args) {
            shutdowns << ShutdownCall{program, args};
        });
        for (int n = 1; n <= rows; ++n)
            scheduler.AddM3u8Task(UrlOf(n), OutOf(n), QString());
    }
    FakeTask *slot(int n) const { return static_cast<FakeTask *>(scheduler.Slot(n)); }
    // 1-based row, as the scheduler's positions.
    QString field(int row, C::Column column) const { return model.Field(row - 1, column); }
    QStringList urls() const {
        QStringList list;
        for (int row = 0; row < model.Count(); ++row)
            list << model.Field(row, C::ColUrl);
        return list;
    }
    void start() { scheduler.btnMStartTaskClick(); }
    // Runs the tick now instead of waiting for it.
    void tick() { scheduler.tmrDownloadTimer(); }
};

}  // namespace

class TestTaskScheduler : public QObject {
    Q_OBJECT
private slots:
    void adding_appends_a_queued_numbered_row();
    void adding_with_a_blank_address_or_file_adds_nothing();
    void limit_two_starts_rows_one_and_two_in_slots_one_and_two();
    void slot_receives_address_output_and_headers_of_its_row();
    void finished_row_is_removed_and_next_starts_on_the_next_tick();
    void tick_is_a_2000_ms_one_shot_that_really_fires();
    void failed_row_keeps_its_error_and_is_skipped();
    void failure_inside_start_moves_on_to_the_next_slot();
    void only_failed_rows_left_run_the_all_done_sequence();
    void empty_list_after_the_last_finish_runs_all_done();
    void stop_returns_running_rows_to_queued_when_their_stop_events_arrive();
    void tick_while_stopped_starts_nothing();
    void lowering_the_limit_lets_running_tasks_finish_then_fills_only_slot_one();
    void raised_limit_fills_new_slots_when_settings_are_saved();
    void limit_zero_starts_nothing_and_above_five_uses_five();
    void unknown_id_events_are_ignored_and_arm_nothing();
    void stale_id_after_stop_is_ignored();
    void ids_count_up_and_are_never_reused();
    void percent_formats_data();
    void percent_formats();
    void progress_event_updates_row_panels_and_bar();
    void notices_follow_the_balloon_and_sound_switches();
    void adding_while_idle_waits_adding_while_active_starts_on_the_tick();
    void start_button_on_an_empty_list_does_nothing();
    void pass_inside_start_takes_the_next_row_not_the_same();
    void queued_row_with_a_running_address_waits();
    void same_address_may_start_once_the_other_failed();
    void shutdown_question_data();
    void shutdown_question();
    void no_shutdown_question_without_the_option();
    void close_is_refused_while_running_and_allowed_after_stop_events();
    void close_when_idle_is_allowed_at_once();
    void refused_close_keeps_an_armed_tick_from_restarting_rows();
    void same_output_as_a_listed_row_gets_the_first_free_number_data();
    void same_output_as_a_listed_row_gets_the_first_free_number();
    void relative_output_is_taken_against_home_data();
    void relative_output_is_taken_against_home();
    void running_row_is_not_removed_but_others_are();
    void moved_running_row_keeps_receiving_its_reports();
};

void TestTaskScheduler::adding_appends_a_queued_numbered_row() {
    Rig rig(1);
    rig.scheduler.AddM3u8Task(QStringLiteral("  http://h/a.m3u8 "), QStringLiteral(" /v/a.mp4\t"),
                              QStringLiteral("Referer: x\r\nCookie: y"));
    rig.scheduler.AddM3u8Task(UrlOf(2), OutOf(2), QString());
    QCOMPARE(rig.model.Count(), 2);
    QCOMPARE(rig.field(1, C::ColNumber), QStringLiteral("1"));
    QCOMPARE(rig.field(2, C::ColNumber), QStringLiteral("2"));
    QCOMPARE(rig.field(1, C::ColUrl), QStringLiteral("http://h/a.m3u8"));
    QCOMPARE(rig.field(1, C::ColFile), QStringLiteral("/v/a.mp4"));
    QCOMPARE(rig.field(1, C::ColHeaders), QStringLiteral("Referer: x\r\nCookie: y"));
    QVERIFY(rig.field(1, C::ColId).isEmpty());
    QVERIFY(rig.field(1, C::ColStatus).isEmpty());
    QVERIFY(rig.field(1, C::ColProgress).isEmpty());
    QCOMPARE(rig.scheduler.GetTaskIndex(), 1);
}

void TestTaskScheduler::adding_with_a_blank_address_or_file_adds_nothing() {
    Rig rig(1);
    rig.scheduler.AddM3u8Task(QStringLiteral("   "), OutOf(1), QString());
    rig.scheduler.AddM3u8Task(UrlOf(1), QStringLiteral(" \t "), QString());
    QCOMPARE(rig.model.Count(), 0);
}

void TestTaskScheduler::limit_two_starts_rows_one_and_two_in_slots_one_and_two() {
    Rig rig(2, 5);
    rig.start();
    QVERIFY(rig.slot(1) && rig.slot(2));
    QVERIFY(!rig.slot(3));
    QCOMPARE(rig.slot(1)->Url(), UrlOf(1));
    QCOMPARE(rig.slot(2)->Url(), UrlOf(2));
    QCOMPARE(rig.field(1, C::ColStatus), QStringLiteral("下载中"));
    QCOMPARE(rig.field(1, C::ColProgress), QStringLiteral("0%"));
    QCOMPARE(rig.field(1, C::ColId), QString::number(rig.slot(1)->TaskId()));
    QCOMPARE(rig.field(2, C::ColId), QString::number(rig.slot(2)->TaskId()));
    for (int row = 3; row <= 5; ++row) {
        QVERIFY(rig.field(row, C::ColStatus).isEmpty());
        QVERIFY(rig.field(row, C::ColId).isEmpty());
    }
    QCOMPARE(rig.scheduler.GetTaskIndex(), 3);
    QCOMPARE(rig.host.caption, QStringLiteral("停止任务"));
    QCOMPARE(rig.host.glyph, QStringLiteral("STOPDL"));
    QVERIFY(rig.host.buttonEnabled);
    QVERIFY(!rig.scheduler.IsStopped());
    QVERIFY(rig.scheduler.IsTickArmed());
}

void TestTaskScheduler::slot_receives_address_output_and_headers_of_its_row() {
    Rig rig(1);
    rig.scheduler.AddM3u8Task(UrlOf(7), QStringLiteral("/v/with blank/a.ts"),
                              QStringLiteral("Referer: http://r/\r\nX-Token: 中文"));
    rig.start();
    QCOMPARE(rig.slot(1)->Url(), UrlOf(7));
    QCOMPARE(rig.slot(1)->Output(), QStringLiteral("/v/with blank/a.ts"));
    // The fake clears its headers in SetUrl, as the engine does: they must be set after it.
    QCOMPARE(rig.slot(1)->Headers(), QStringLiteral("Referer: http://r/\r\nX-Token: 中文"));
    QCOMPARE(rig.slot(1)->Starts(), 1);
}

void TestTaskScheduler::finished_row_is_removed_and_next_starts_on_the_next_tick() {
    Rig rig(2, 5);
    rig.start();
    rig.tick();  // the start's own tick: both slots busy, nothing new
    QVERIFY(!rig.scheduler.IsTickArmed());

    rig.slot(1)->Finish();
    QCOMPARE(rig.urls(), (QStringList{UrlOf(2), UrlOf(3), UrlOf(4), UrlOf(5)}));
    // The other rows keep their numbers.
    QCOMPARE(rig.field(1, C::ColNumber), QStringLiteral("2"));
    QCOMPARE(rig.field(4, C::ColNumber), QStringLiteral("5"));
    QVERIFY(rig.scheduler.IsTickArmed());
    QCOMPARE(rig.slot(1)->Starts(), 1);  // nothing starts before the tick
    QCOMPARE(rig.scheduler.GetTaskIndex(), 2);

    rig.tick();
    QCOMPARE(rig.slot(1)->Starts(), 2);
    QCOMPARE(rig.slot(1)->Url(), UrlOf(3));
    QCOMPARE(rig.slot(2)->Url(), UrlOf(2));
    QCOMPARE(rig.field(2, C::ColStatus), QStringLiteral("下载中"));
    QCOMPARE(rig.scheduler.GetTaskIndex(), 3);
    QVERIFY(!rig.scheduler.IsTickArmed());
    QVERIFY(!rig.scheduler.IsStopped());
}

void TestTaskScheduler::tick_is_a_2000_ms_one_shot_that_really_fires() {
    Rig rig(1, 2);
    auto *timer = rig.scheduler.findChild<QTimer *>(QStringLiteral("tmrDownload"));
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 2000);
    QVERIFY(timer->isSingleShot());
    QVERIFY(!timer->isActive());

    rig.scheduler.SetTickInterval(20);
    rig.start();
    rig.slot(1)->Finish();
    QVERIFY(timer->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(rig.slot(1)->Starts(), 2, 5000);
    QCOMPARE(rig.slot(1)->Url(), UrlOf(2));
    QVERIFY(!timer->isActive());
}

void TestTaskScheduler::failed_row_keeps_its_error_and_is_skipped() {
    Rig rig(1, 3);
    rig.start();
    rig.slot(1)->Progress(QStringLiteral("clip1"), 33.25f, QStringLiteral("下载中"));
    rig.slot(1)->Fail(QStringLiteral("ts下载失败"));
    QCOMPARE(rig.model.Count(), 3);
    QCOMPARE(rig.field(1, C::ColStatus), QStringLiteral("ts下载失败"));
    QVERIFY(rig.field(1, C::ColId).isEmpty());
    QCOMPARE(rig.field(1, C::ColProgress), QStringLiteral("33.25%"));
    QVERIFY(rig.scheduler.IsTickArmed());
    QCOMPARE(rig.scheduler.GetTaskIndex(), 2);

    rig.tick();
    QCOMPARE(rig.slot(1)->Url(), UrlOf(2));
    rig.slot(1)->Finish();
    rig.tick();
    QCOMPARE(rig.slot(1)->Url(), UrlOf(3));
    QCOMPARE(rig.field(1, C::ColStatus), QStringLiteral("ts下载失败"));
    QCOMPARE(rig.slot(1)->Starts(), 3);
}

void TestTaskScheduler::failure_inside_start_moves_on_to_the_next_slot() {
    Rig rig(2, 3);
    rig.pool.OnStartHook = [](FakeTask &task) {
        if (task.Url() == UrlOf(1))
            task.Fail(QStringLiteral("m3u8无效"));
    };
    rig.start();
    QCOMPARE(rig.field(1, C::ColStatus), QStringLiteral("m3u8无效"));
    QVERIFY(rig.field(1, C::ColId).isEmpty());
    QVERIFY(!rig.slot(1)->Running());
    // Slot 1 stays free until the next tick; slot 2 took the next queued row.
    QCOMPARE(rig.slot(2)->Url(), UrlOf(2));
    QVERIFY(rig.slot(2)->Running());
    rig.tick();
    QCOMPARE(rig.slot(1)->Url(), UrlOf(3));
    QVERIFY(rig.slot(1)->Running());
}

void TestTaskScheduler::only_failed_rows_left_run_the_all_done_sequence() {
    Rig rig(2, 2);
    rig.pool.OnStartHook = [](FakeTask &task) { task.Fail(QStringLiteral("m3u8无效")); };
    rig.start();
    QCOMPARE(rig.model.Count(), 2);
    QCOMPARE(rig.scheduler.GetTaskIndex(), 0);
    QVERIFY(!rig.scheduler.AnyTaskRunning());
    QVERIFY(!rig.scheduler.IsStopped());

    rig.host.log.clear();
    rig.tick();
    QCOMPARE(rig.host.log, (QStringList{QStringLiteral("caption 开始下载 STARTDL"),
                                        QStringLiteral("progress 0"), QStringLiteral("panel1 "),
                                        QStringLiteral("panel2 "), QStringLiteral("front")}));
    QVERIFY(rig.scheduler.IsStopped());
    QCOMPARE(rig.model.Count(), 2);  // failed rows stay
    QVERIFY(rig.host.questions.isEmpty());
}

void TestTaskScheduler::empty_list_after_the_last_finish_runs_all_done() {
    Rig rig(1, 1);
    rig.start();
    rig.tick();
    QCOMPARE(rig.host.fronts, 0);
    rig.slot(1)->Finish();
    QCOMPARE(rig.model.Count(), 0);
    rig.tick();
    QCOMPARE(rig.host.fronts, 1);
    QCOMPARE(rig.host.caption, QStringLiteral("开始下载"));
    QCOMPARE(rig.host.glyph, QStringLiteral("STARTDL"));
    QCOMPARE(rig.host.progress.last(), 0u);
    QVERIFY(rig.scheduler.IsStopped());
}

void TestTaskScheduler::stop_returns_running_rows_to_queued_when_their_stop_events_arrive() {
    Rig rig(2, 3);
    rig.start();
    rig.slot(1)->Progress(QStringLiteral("clip1"), 40, QStringLiteral("下载中"));
    rig.tick();  // disarm the start's tick
    rig.host.log.clear();

    rig.start();  // the button now reads "停止任务"
    QCOMPARE(rig.host.log, (QStringList{QStringLiteral("enabled 0"), QStringLiteral("progress 0"),
                                        QStringLiteral("panel1 "), QStringLiteral("panel2 "),
                                        QStringLiteral("caption 开始下载 STARTDL"),
                                        QStringLiteral("enabled 1")}));
    QVERIFY(rig.scheduler.IsStopped());
    QVERIFY(rig.slot(1)->StopRequested());
    QVERIFY(rig.slot(2)->StopRequested());
    // Until the tasks report, their rows still show them running.
    QCOMPARE(rig.field(1, C::ColStatus), QStringLiteral("下载中"));
    QVERIFY(!rig.field(1, C::ColId).isEmpty());

    rig.slot(1)->ReportStop();
    rig.slot(2)->ReportStop();
    for (int row = 1; row <= 2; ++row) {
        QVERIFY(rig.field(row, C::ColId).isEmpty());
        QVERIFY(rig.field(row, C::ColStatus).isEmpty());
        QVERIFY(rig.field(row, C::ColProgress).isEmpty());
    }
    QCOMPARE(rig.urls(), (QStringList{UrlOf(1), UrlOf(2), UrlOf(3)}));
    QCOMPARE(rig.scheduler.GetTaskIndex(), 1);
    QVERIFY(!rig.scheduler.IsTickArmed());  // a stop event arms nothing
}

void TestTaskScheduler::tick_while_stopped_starts_nothing() {
    Rig rig(2, 3);
    rig.start();
    rig.start();  // stop; the start's tick stays armed
    rig.slot(1)->ReportStop();
    rig.slot(2)->ReportStop();
    QVERIFY(rig.scheduler.IsTickArmed());
    rig.host.log.clear();
    rig.tick();
    QCOMPARE(rig.slot(1)->Starts(), 1);
    QCOMPARE(rig.slot(2)->Starts(), 1);
    QVERIFY(!rig.slot(3));
    // Queued rows remain, so this is not the all-done case either.
    QVERIFY(rig.host.log.isEmpty());
}

void TestTaskScheduler::lowering_the_limit_lets_running_tasks_finish_then_fills_only_slot_one() {
    Rig rig(5, 7);
    rig.start();
    for (int slot = 1; slot <= 5; ++slot) {
        QVERIFY(rig.slot(slot)->Running());
        QCOMPARE(rig.slot(slot)->Url(), UrlOf(slot));
    }
    rig.tick();
    rig.scheduler.LimitTasks = 1;
    rig.scheduler.SettingsSaved();
    for (int slot = 2; slot <= 5; ++slot) {
        QVERIFY2(!rig.slot(slot)->StopRequested(), "lowering the limit stops nothing");
        rig.slot(slot)->Finish();
        rig.tick();
        QCOMPARE(rig.slot(slot)->Starts(), 1);
    }
    QCOMPARE(rig.slot(1)->Starts(), 1);
    QCOMPARE(rig.urls(), (QStringList{UrlOf(1), UrlOf(6), UrlOf(7)}));

    rig.slot(1)->Finish();
    rig.tick();
    QCOMPARE(rig.slot(1)->Url(), UrlOf(6));
    QCOMPARE(rig.slot(1)->Starts(), 2);
    for (int slot = 2; slot <= 5; ++slot)
        QVERIFY(!rig.slot(slot)->Running());
    QCOMPARE(rig.scheduler.GetTaskIndex(), 2);
}

void TestTaskScheduler::raised_limit_fills_new_slots_when_settings_are_saved() {
    Rig rig(1, 3);
    rig.start();
    QVERIFY(!rig.slot(2));
    rig.scheduler.LimitTasks = 3;
    rig.scheduler.SettingsSaved();
    QCOMPARE(rig.slot(2)->Url(), UrlOf(2));
    QCOMPARE(rig.slot(3)->Url(), UrlOf(3));

    // While idle, saving the settings starts nothing.
    Rig idle(1, 2);
    idle.scheduler.LimitTasks = 2;
    idle.scheduler.SettingsSaved();
    QVERIFY(!idle.slot(1));
}

void TestTaskScheduler::limit_zero_starts_nothing_and_above_five_uses_five() {
    Rig none(0, 2);
    none.start();
    QVERIFY(!none.slot(1));
    QCOMPARE(none.scheduler.GetTaskIndex(), 1);

    Rig many(9, 7);
    many.start();
    QCOMPARE(many.pool.Created(), 5);
    QVERIFY(many.slot(5)->Running());
    QCOMPARE(many.scheduler.GetTaskIndex(), 6);
}

void TestTaskScheduler::unknown_id_events_are_ignored_and_arm_nothing() {
    Rig rig(1, 2);
    rig.start();
    rig.tick();
    QVERIFY(!rig.scheduler.IsTickArmed());
    const qint32 unknown = rig.slot(1)->TaskId() + 100;
    rig.host.log.clear();

    rig.scheduler.OnM3u8Progress(unknown, QStringLiteral("x"), 50, QStringLiteral("下载中"));
    rig.scheduler.OnM3u8Error(unknown, QStringLiteral("合并失败"));
    rig.scheduler.OnM3u8Finish(unknown);
    rig.scheduler.OnM3u8Stop(unknown);

    QVERIFY(!rig.scheduler.IsTickArmed());
    QVERIFY(rig.host.log.isEmpty());
    QCOMPARE(rig.model.Count(), 2);
    QCOMPARE(rig.field(1, C::ColStatus), QStringLiteral("下载中"));
    QCOMPARE(rig.field(1, C::ColProgress), QStringLiteral("0%"));
    QCOMPARE(rig.field(1, C::ColId), QString::number(rig.slot(1)->TaskId()));
}

void TestTaskScheduler::stale_id_after_stop_is_ignored() {
    Rig rig(1, 1);
    rig.start();
    const qint32 old = rig.slot(1)->TaskId();
    rig.start();
    rig.slot(1)->ReportStop();
    rig.tick();
    QVERIFY(!rig.scheduler.IsTickArmed());
    // A late finish of the stopped run must not remove the queued row.
    rig.scheduler.OnM3u8Finish(old);
    QCOMPARE(rig.model.Count(), 1);
    QVERIFY(!rig.scheduler.IsTickArmed());
    QCOMPARE(rig.host.sounds, 0);
}

void TestTaskScheduler::ids_count_up_and_are_never_reused() {
    Rig rig(2, 2);
    QCOMPARE(rig.scheduler.FindTaskById(1), 0);
    rig.start();
    QCOMPARE(rig.slot(1)->TaskId(), 1);
    QCOMPARE(rig.slot(2)->TaskId(), 2);
    QCOMPARE(rig.scheduler.FindTaskById(2), 2);
    rig.start();
    rig.slot(1)->ReportStop();
    rig.slot(2)->ReportStop();
    rig.start();
    QCOMPARE(rig.slot(1)->TaskId(), 3);
    QCOMPARE(rig.slot(2)->TaskId(), 4);
    QCOMPARE(rig.field(1, C::ColId), QStringLiteral("3"));
    QCOMPARE(rig.scheduler.FindTaskById(1), 0);
    QCOMPARE(rig.scheduler.IDGenerater(), 5);
}

void TestTaskScheduler::percent_formats_data() {
    QTest::addColumn<float>("percent");
    QTest::addColumn<QString>("text");
    QTest::addColumn<unsigned>("bar");
    QTest::newRow("12.5 halves down to even") << 12.5f << "12.50%" << 12u;
    QTest::newRow("13.5 halves up to even") << 13.5f << "13.50%" << 14u;
    QTest::newRow("45.5") << 45.5f << "45.50%" << 46u;
    QTest::newRow("0.5") << 0.5f << "0.50%" << 0u;
    QTest::newRow("merging 90") << 90.0f << "90.00%" << 90u;
    QTest::newRow("12.51 rounds up") << 12.51f << "12.51%" << 13u;
    QTest::newRow("12.49 rounds down") << 12.49f << "12.49%" << 12u;
    QTest::newRow("zero") << 0.0f << "0.00%" << 0u;
    QTest::newRow("full") << 100.0f << "100.00%" << 100u;
    // The bar takes 101 modulo 101; the scheduler passes the whole number on.
    QTest::newRow("past full") << 101.0f << "101.00%" << 101u;
    QTest::newRow("negative is no progress") << -3.0f << "-3.00%" << 0u;
}

void TestTaskScheduler::percent_formats() {
    QFETCH(float, percent);
    QFETCH(QString, text);
    QFETCH(unsigned, bar);
    QCOMPARE(TaskScheduler::PercentText(percent), text);
    QCOMPARE(TaskScheduler::ProgressBarValue(percent), bar);
}

void TestTaskScheduler::progress_event_updates_row_panels_and_bar() {
    Rig rig(2, 2);
    rig.start();
    rig.slot(2)->Progress(QStringLiteral("clip2"), 12.5f, QStringLiteral("下载中"));
    QCOMPARE(rig.field(2, C::ColProgress), QStringLiteral("12.50%"));
    QCOMPARE(rig.field(2, C::ColStatus), QStringLiteral("下载中"));
    QCOMPARE(rig.host.panels[1], QStringLiteral("clip2"));
    QCOMPARE(rig.host.panels[2], QStringLiteral("下载中 12.50%"));
    QCOMPARE(rig.host.progress.last(), 12u);

    rig.slot(1)->Progress(QStringLiteral("clip1"), 90, QStringLiteral("合并中"));
    QCOMPARE(rig.field(1, C::ColStatus), QStringLiteral("合并中"));
    QCOMPARE(rig.field(1, C::ColProgress), QStringLiteral("90.00%"));
    QCOMPARE(rig.host.panels[1], QStringLiteral("clip1"));
    QCOMPARE(rig.host.panels[2], QStringLiteral("合并中 90.00%"));
    QCOMPARE(rig.host.progress.last(), 90u);
    QCOMPARE(rig.field(2, C::ColProgress), QStringLiteral("12.50%"));
}

void TestTaskScheduler::notices_follow_the_balloon_and_sound_switches() {
    Rig rig(2, 3);
    rig.start();
    rig.slot(1)->Fail(QStringLiteral("key下载失败"));
    QCOMPARE(rig.host.balloons.size(), 1);
    QCOMPARE(rig.host.balloons[0].title, QStringLiteral("任务出错"));
    QCOMPARE(rig.host.balloons[0].text, QStringLiteral("clip1.mp4\nkey下载失败"));
    QCOMPARE(rig.host.balloons[0].timeoutMs, 3000);
    QCOMPARE(rig.host.sounds, 0);

    rig.host.log.clear();
    rig.slot(2)->Finish();
    QCOMPARE(rig.host.log,
             (QStringList{QStringLiteral("balloon 任务完成"), QStringLiteral("sound")}));
    QCOMPARE(rig.host.balloons[1].text, QStringLiteral("clip2.mp4"));
    QCOMPARE(rig.host.balloons[1].timeoutMs, 3000);

    rig.scheduler.BalloonHint = false;
    rig.tick();  // row 3 starts
    rig.slot(1)->Finish();
    QCOMPARE(rig.host.balloons.size(), 2);
    QCOMPARE(rig.host.sounds, 2);

    rig.scheduler.SoundTips = false;
    rig.scheduler.AddM3u8Task(UrlOf(4), OutOf(4), QString());
    rig.tick();
    rig.slot(1)->Finish();
    QCOMPARE(rig.host.sounds, 2);
    QCOMPARE(rig.host.balloons.size(), 2);
    rig.slot(2)->Fail(QStringLiteral("x"));  // a stale slot: nothing runs there any more
    QCOMPARE(rig.host.balloons.size(), 2);
}

void TestTaskScheduler::adding_while_idle_waits_adding_while_active_starts_on_the_tick() {
    Rig rig(2);
    rig.scheduler.AddM3u8Task(UrlOf(1), OutOf(1), QString());
    QVERIFY(!rig.scheduler.IsTickArmed());
    QVERIFY(!rig.slot(1));

    rig.start();
    rig.tick();
    QVERIFY(!rig.scheduler.IsTickArmed());
    rig.scheduler.AddM3u8Task(UrlOf(2), OutOf(2), QString());
    QVERIFY(rig.scheduler.IsTickArmed());
    QVERIFY(!rig.slot(2));
    rig.tick();
    QCOMPARE(rig.slot(2)->Url(), UrlOf(2));
}

void TestTaskScheduler::start_button_on_an_empty_list_does_nothing() {
    Rig rig(1);
    rig.start();
    QVERIFY(rig.host.log.isEmpty());
    QVERIFY(rig.scheduler.IsStopped());
    QVERIFY(!rig.scheduler.IsTickArmed());
}

void TestTaskScheduler::pass_inside_start_takes_the_next_row_not_the_same() {
    Rig rig(2, 3);
    // A tick that runs while the first task's Start lets events through.
    bool reentered = false;
    rig.pool.OnStartHook = [&](FakeTask &) {
        if (reentered)
            return;
        reentered = true;
        rig.tick();
    };
    rig.start();
    QCOMPARE(rig.slot(1)->Url(), UrlOf(1));
    QCOMPARE(rig.slot(2)->Url(), UrlOf(2));
    QCOMPARE(rig.slot(1)->Starts(), 1);
    QCOMPARE(rig.slot(2)->Starts(), 1);
    QCOMPARE(rig.scheduler.GetTaskIndex(), 3);
}

void TestTaskScheduler::queued_row_with_a_running_address_waits() {
    Rig rig(2);
    const QString shared = QStringLiteral("http://127.0.0.1:9/same/index.m3u8");
    rig.scheduler.AddM3u8Task(shared, OutOf(1), QString());
    rig.scheduler.AddM3u8Task(QStringLiteral("  ") + shared, OutOf(2), QString());
    rig.scheduler.AddM3u8Task(UrlOf(3), OutOf(3), QString());
    rig.start();
    QCOMPARE(rig.slot(1)->Url(), shared);
    QCOMPARE(rig.slot(2)->Url(), UrlOf(3));
    QVERIFY(rig.field(2, C::ColStatus).isEmpty());
    QVERIFY(rig.scheduler.IsAddressInUse(shared));
    QCOMPARE(rig.scheduler.GetTaskIndex(), 0);

    // Waiting is not being done: the tick keeps the scheduler active.
    rig.slot(2)->Finish();
    rig.tick();
    QVERIFY(!rig.scheduler.IsStopped());
    QCOMPARE(rig.slot(2)->Starts(), 1);
    QCOMPARE(rig.host.fronts, 0);

    rig.slot(1)->Finish();
    QVERIFY(!rig.scheduler.IsAddressInUse(shared));
    rig.tick();
    QCOMPARE(rig.slot(1)->Starts(), 2);
    QCOMPARE(rig.slot(1)->Output(), OutOf(2));
}

void TestTaskScheduler::same_address_may_start_once_the_other_failed() {
    Rig rig(2);
    const QString shared = QStringLiteral("http://127.0.0.1:9/same/index.m3u8");
    rig.scheduler.AddM3u8Task(shared, OutOf(1), QString());
    rig.scheduler.AddM3u8Task(shared, OutOf(2), QString());
    rig.start();
    QVERIFY(!rig.slot(2));
    rig.slot(1)->Fail(QStringLiteral("ts下载失败"));
    rig.tick();
    QCOMPARE(rig.slot(1)->Output(), OutOf(2));
    QVERIFY(rig.slot(1)->Running());
}

void TestTaskScheduler::shutdown_question_data() {
    QTest::addColumn<QuestionAnswer>("answer");
    QTest::addColumn<bool>("shutsDown");
    QTest::newRow("no") << QuestionAnswer::No << false;
    QTest::newRow("yes") << QuestionAnswer::Yes << true;
    QTest::newRow("time-out counts as yes") << QuestionAnswer::TimedOut << true;
}

void TestTaskScheduler::shutdown_question() {
    QFETCH(QuestionAnswer, answer);
    QFETCH(bool, shutsDown);
    Rig rig(1, 1);
    rig.scheduler.ShutdownAfterDownload = true;
    rig.host.answer = answer;
    rig.start();
    rig.tick();
    QVERIFY(rig.host.questions.isEmpty());  // still downloading
    rig.slot(1)->Finish();
    rig.host.log.clear();
    rig.tick();

    QCOMPARE(rig.host.questions,
             QStringList{QStringLiteral("任务下载完成后关机|是否需要关机？|10000")});
    // The page is back to idle before the question is asked.
    QCOMPARE(rig.host.log.indexOf(QStringLiteral("front")) + 1,
             rig.host.log.indexOf(QStringLiteral("question")));
    QVERIFY(rig.scheduler.IsStopped());
    if (shutsDown) {
        QCOMPARE(rig.shutdowns.size(), 1);
        QCOMPARE(rig.shutdowns[0].program, QStringLiteral("shutdown"));
        QCOMPARE(rig.shutdowns[0].arguments,
                 (QStringList{QStringLiteral("-P"), QStringLiteral("+1")}));
        QCOMPARE(rig.host.closes, 1);
        QCOMPARE(rig.host.log.last(), QStringLiteral("close"));
    } else {
        QVERIFY(rig.shutdowns.isEmpty());
        QCOMPARE(rig.host.closes, 0);
    }
}

void TestTaskScheduler::no_shutdown_question_without_the_option() {
    Rig rig(1, 1);
    rig.host.answer = QuestionAnswer::Yes;
    rig.start();
    rig.slot(1)->Finish();
    rig.tick();
    QCOMPARE(rig.host.fronts, 1);
    QVERIFY(rig.host.questions.isEmpty());
    QVERIFY(rig.shutdowns.isEmpty());
    QCOMPARE(rig.host.closes, 0);
}

void TestTaskScheduler::close_is_refused_while_running_and_allowed_after_stop_events() {
    Rig rig(2, 3);
    rig.start();
    QVERIFY(!rig.scheduler.FormCloseQuery());
    QVERIFY(rig.slot(1)->StopRequested());
    QVERIFY(rig.slot(2)->StopRequested());
    QVERIFY(!rig.scheduler.IsStopped());  // closing does not change the scheduler's state
    rig.slot(1)->ReportStop();
    QVERIFY(!rig.scheduler.FormCloseQuery());
    rig.slot(2)->ReportStop();
    QVERIFY(rig.scheduler.FormCloseQuery());
    for (int row = 1; row <= 3; ++row)
        QVERIFY(rig.model.IsRowQueued(row - 1));
}

void TestTaskScheduler::close_when_idle_is_allowed_at_once() {
    Rig rig(2, 2);
    QVERIFY(rig.scheduler.FormCloseQuery());
    QVERIFY(!rig.slot(1));
}

void TestTaskScheduler::refused_close_keeps_an_armed_tick_from_restarting_rows() {
    Rig rig(2, 3);
    rig.start();
    QVERIFY(rig.scheduler.IsTickArmed());
    QVERIFY(!rig.scheduler.FormCloseQuery());
    rig.slot(1)->ReportStop();
    rig.slot(2)->ReportStop();
    // The tick the start button armed comes after the refusal: it must start nothing.
    rig.tick();
    rig.scheduler.AddM3u8Task(UrlOf(4), OutOf(4), QString());
    rig.scheduler.SettingsSaved();
    rig.tick();
    QCOMPARE(rig.slot(1)->Starts(), 1);
    QCOMPARE(rig.slot(2)->Starts(), 1);
    QVERIFY(!rig.scheduler.AnyTaskRunning());
    QVERIFY(!rig.scheduler.IsStopped());  // still active: the button reads "停止任务"
    QCOMPARE(rig.host.caption, QStringLiteral("停止任务"));
    QVERIFY(rig.scheduler.FormCloseQuery());

    // The user stops and starts again: the queue runs as before.
    rig.start();
    QVERIFY(rig.scheduler.IsStopped());
    rig.start();
    QCOMPARE(rig.slot(1)->Starts(), 2);
    QCOMPARE(rig.slot(2)->Starts(), 2);
    QVERIFY(rig.model.IsRowRunning(0) && rig.model.IsRowRunning(1));
}

void TestTaskScheduler::same_output_as_a_listed_row_gets_the_first_free_number_data() {
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("kept");
    QTest::newRow("three of one name")
        << QStringList{"/v/正片.mp4", "/v/正片.mp4", "/v/正片.mp4"}
        << QStringList{"/v/正片.mp4", "/v/正片 (2).mp4", "/v/正片 (3).mp4"};
    QTest::newRow("a numbered name already listed")
        << QStringList{"/v/a.mp4", "/v/a (2).mp4", "/v/a.mp4"}
        << QStringList{"/v/a.mp4", "/v/a (2).mp4", "/v/a (3).mp4"};
    QTest::newRow("no extension, dotted folder")
        << QStringList{"/v.d/a", "/v.d/a"} << QStringList{"/v.d/a", "/v.d/a (2)"};
}

void TestTaskScheduler::same_output_as_a_listed_row_gets_the_first_free_number() {
    QFETCH(QStringList, added);
    QFETCH(QStringList, kept);
    Rig rig(1);
    for (int n = 0; n < added.size(); ++n)
        rig.scheduler.AddM3u8Task(UrlOf(n + 1), added.at(n), QString());
    QStringList files;
    for (int row = 1; row <= rig.model.Count(); ++row)
        files << rig.field(row, C::ColFile);
    QCOMPARE(files, kept);
}

void TestTaskScheduler::relative_output_is_taken_against_home_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("bare name") << "a.mp4"
                               << "/home/u/a.mp4";
    QTest::newRow("relative folder") << "Videos/第1集.mp4"
                                     << "/home/u/Videos/第1集.mp4";
    QTest::newRow("dot and dot-dot") << "./x/../b.mp4"
                                     << "/home/u/b.mp4";
    QTest::newRow("tilde") << "~/Videos/c.mp4"
                           << "/home/u/Videos/c.mp4";
    QTest::newRow("absolute stays as typed") << "/data//v/d.mp4"
                                             << "/data//v/d.mp4";
    QTest::newRow("tilde inside a name") << "~x.mp4"
                                         << "/home/u/~x.mp4";
}

void TestTaskScheduler::relative_output_is_taken_against_home() {
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    QCOMPARE(AbsoluteOutputPath(typed, QStringLiteral("/home/u")), kept);

    // Every caller of AddM3u8Task gets it: the page, the loader and the imports.
    Rig rig(1);
    rig.scheduler.AddM3u8Task(UrlOf(1), QStringLiteral(" ") + typed, QString());
    QCOMPARE(rig.field(1, C::ColFile), AbsoluteOutputPath(typed, QDir::homePath()));
    QVERIFY(QDir::isAbsolutePath(rig.field(1, C::ColFile)));
    rig.start();
    QCOMPARE(rig.slot(1)->Output(), rig.field(1, C::ColFile));
}

void TestTaskScheduler::running_row_is_not_removed_but_others_are() {
    Rig rig(1, 3);
    rig.start();
    QVERIFY(rig.model.IsRowRunning(0));
    QVERIFY(!rig.model.IsRowRunning(1));
    QVERIFY(!rig.scheduler.RemoveIdleRow(0));
    QVERIFY(!rig.scheduler.RemoveIdleRow(7));
    QCOMPARE(rig.model.Count(), 3);
    QVERIFY(rig.scheduler.RemoveIdleRow(1));
    QCOMPARE(rig.urls(), (QStringList{UrlOf(1), UrlOf(3)}));
    // The running task still finds its row.
    rig.slot(1)->Finish();
    QCOMPARE(rig.urls(), QStringList{UrlOf(3)});
}

void TestTaskScheduler::moved_running_row_keeps_receiving_its_reports() {
    Rig rig(1, 3);
    rig.start();
    QVERIFY(rig.model.moveRow(QModelIndex(), 0, QModelIndex(), 3));
    QCOMPARE(rig.urls(), (QStringList{UrlOf(2), UrlOf(3), UrlOf(1)}));
    rig.slot(1)->Progress(QStringLiteral("clip1"), 70, QStringLiteral("下载中"));
    QCOMPARE(rig.field(3, C::ColProgress), QStringLiteral("70.00%"));
    QVERIFY(rig.field(1, C::ColProgress).isEmpty());
    rig.slot(1)->Finish();
    QCOMPARE(rig.urls(), (QStringList{UrlOf(2), UrlOf(3)}));
}

QTEST_GUILESS_MAIN(TestTaskScheduler)
#include "tst_taskscheduler.moc"
