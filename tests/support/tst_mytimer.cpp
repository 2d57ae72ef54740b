#include "support/MyTimer.h"

#include <QElapsedTimer>
#include <QTest>

#include <stdexcept>

class MyTimerTest : public QObject {
    Q_OBJECT
private slots:
    void starts_with_nothing_set();
    void runs_only_with_interval_enabled_and_handler_data();
    void runs_only_with_interval_enabled_and_handler();
    void enabling_without_interval_or_handler_raises_nothing();
    void ticks_call_the_handler_repeatedly();
    void same_enabled_value_twice_does_not_restart();
    void same_interval_twice_does_not_restart();
    void setting_the_handler_always_restarts();
    void disabling_stops_the_ticks();
    void exception_in_handler_keeps_the_timer_going();
    void handler_may_disable_its_own_timer();
};

void MyTimerTest::starts_with_nothing_set() {
    MyTimer timer;
    QCOMPARE(timer.Interval(), 0u);
    QCOMPARE(timer.Enabled(), false);
    QVERIFY(!timer.IsActive());
}

void MyTimerTest::runs_only_with_interval_enabled_and_handler_data() {
    QTest::addColumn<quint32>("interval");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("handler");
    QTest::addColumn<bool>("active");
    QTest::newRow("all set") << 50u << true << true << true;
    QTest::newRow("interval 0") << 0u << true << true << false;
    QTest::newRow("disabled") << 50u << false << true << false;
    QTest::newRow("no handler") << 50u << true << false << false;
    QTest::newRow("nothing") << 0u << false << false << false;
}

void MyTimerTest::runs_only_with_interval_enabled_and_handler() {
    QFETCH(quint32, interval);
    QFETCH(bool, enabled);
    QFETCH(bool, handler);
    QFETCH(bool, active);
    MyTimer timer;
    int ticks = 0;
    timer.SetInterval(interval);
    timer.SetEnabled(enabled);
    if (handler)
        timer.SetOnTimer([&ticks] { ++ticks; });
    QCOMPARE(timer.IsActive(), active);
    QTest::qWait(200);
    QCOMPARE(ticks > 0, active);
}

void MyTimerTest::enabling_without_interval_or_handler_raises_nothing() {
    MyTimer timer;
    timer.SetEnabled(true);
    QVERIFY(!timer.IsActive());
    timer.SetInterval(20);
    QVERIFY(!timer.IsActive());  // still no handler
    int ticks = 0;
    timer.SetOnTimer([&ticks] { ++ticks; });
    QVERIFY(timer.IsActive());
    QTRY_VERIFY_WITH_TIMEOUT(ticks > 0, 2000);
}

void MyTimerTest::ticks_call_the_handler_repeatedly() {
    MyTimer timer;
    int ticks = 0;
    timer.SetOnTimer([&ticks] { ++ticks; });
    timer.SetInterval(20);
    timer.SetEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 5000);
}

// The test for "does not restart": with a 300 ms interval, poking the timer every 100 ms with
// the same value must not push the tick away; a restart on every poke would never let it fire.
void MyTimerTest::same_enabled_value_twice_does_not_restart() {
    MyTimer timer;
    int ticks = 0;
    timer.SetOnTimer([&ticks] { ++ticks; });
    timer.SetInterval(300);
    timer.SetEnabled(true);
    QElapsedTimer clock;
    clock.start();
    while (ticks == 0 && clock.elapsed() < 3000) {
        QTest::qWait(100);
        timer.SetEnabled(true);
    }
    QVERIFY(ticks > 0);
}

void MyTimerTest::same_interval_twice_does_not_restart() {
    MyTimer timer;
    int ticks = 0;
    timer.SetOnTimer([&ticks] { ++ticks; });
    timer.SetInterval(300);
    timer.SetEnabled(true);
    QElapsedTimer clock;
    clock.start();
    while (ticks == 0 && clock.elapsed() < 3000) {
        QTest::qWait(100);
        timer.SetInterval(300);
    }
    QVERIFY(ticks > 0);
}

void MyTimerTest::setting_the_handler_always_restarts() {
    MyTimer timer;
    int ticks = 0;
    const auto count = [&ticks] { ++ticks; };
    timer.SetOnTimer(count);
    timer.SetInterval(1000);
    timer.SetEnabled(true);
    // Re-setting the handler every 100 ms keeps restarting the interval, so it never elapses.
    for (int i = 0; i < 15; ++i) {
        QTest::qWait(100);
        timer.SetOnTimer(count);
    }
    QCOMPARE(ticks, 0);
    QTRY_VERIFY_WITH_TIMEOUT(ticks > 0, 3000);
}

void MyTimerTest::disabling_stops_the_ticks() {
    MyTimer timer;
    int ticks = 0;
    timer.SetOnTimer([&ticks] { ++ticks; });
    timer.SetInterval(20);
    timer.SetEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(ticks > 0, 2000);
    timer.SetEnabled(false);
    QVERIFY(!timer.IsActive());
    const int seen = ticks;
    QTest::qWait(150);
    QCOMPARE(ticks, seen);
}

void MyTimerTest::exception_in_handler_keeps_the_timer_going() {
    MyTimer timer;
    int ticks = 0;
    timer.SetOnTimer([&ticks] {
        ++ticks;
        throw std::runtime_error("tick failed");
    });
    timer.SetInterval(20);
    timer.SetEnabled(true);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("tick failed")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("tick failed")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("tick failed")));
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 5000);
    QVERIFY(timer.IsActive());
}

void MyTimerTest::handler_may_disable_its_own_timer() {
    MyTimer timer;
    int ticks = 0;
    timer.SetOnTimer([&] {
        ++ticks;
        timer.SetEnabled(false);
    });
    timer.SetInterval(20);
    timer.SetEnabled(true);
    QTRY_COMPARE_WITH_TIMEOUT(ticks, 1, 2000);
    QTest::qWait(100);
    QCOMPARE(ticks, 1);
    QVERIFY(!timer.IsActive());
}

QTEST_GUILESS_MAIN(MyTimerTest)
#include "tst_mytimer.moc"
