// Five download tasks whose segments never arrive (the test server's --stall mode) polled and
// then stopped in one event loop, as the window runs them; reports the longest gap between two
// turns of that loop. A gap is time in which the window could not repaint or take a click.
//
//   bench_eventloop_gap [--seconds N]   (default 8 s of polling, then all five are stopped)

#include "HlsTestServer.h"
#include "TestStreams.h"
#include "TestTools.h"
#include "hls/TM3u8Class.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kTasks = 5;

// Longest time between two turns of the event loop, seen through a zero-interval timer.
class GapMeter {
public:
    void Start() {
        m_clock.start();
        m_last = 0;
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_worst = std::max(m_worst, now - m_last);
            m_last = now;
        });
        m_timer.start(0);
    }
    void Reset() {
        m_worst = 0;
        m_last = m_clock.nsecsElapsed();
    }
    double WorstMs() const { return double(m_worst) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worst = 0;
};

// Runs the loop for `ms` milliseconds.
void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    int seconds = 8;
    const QStringList args = app.arguments();
    const int at = int(args.indexOf(QStringLiteral("--seconds")));
    if (at > 0 && at + 1 < args.size())
        seconds = std::max(2, args.at(at + 1).toInt());

    QTemporaryDir base;
    if (!base.isValid())
        return 1;
    TestTools::IsolateEnvironment(base.path());
    const QString root = TestStreams::Root();
    if (root.isEmpty()) {
        std::fprintf(stderr, "bench_eventloop_gap: test streams could not be made\n");
        return 1;
    }
    HlsTestServer server;
    HlsServerOptions options;
    // The first segment is served (the analysis probes it); every other one stalls.
    options.stallPattern = QStringLiteral("/clear/seg[1-9][0-9]*\\.ts$");
    options.maxSeconds = seconds + 120;
    if (!server.start(root, options)) {
        std::fprintf(stderr, "bench_eventloop_gap: %s\n", qPrintable(server.errorString()));
        return 1;
    }

    GapMeter meter;
    meter.Start();
    std::vector<std::unique_ptr<TM3u8>> tasks;
    int ended = 0;
    for (int i = 0; i < kTasks; ++i) {
        auto task = std::make_unique<TM3u8>();
        task->TaskId = i + 1;
        task->OnError = [&ended](int, const QString &) { ++ended; };
        task->OnStop = [&ended](int) { ++ended; };
        task->OnFinish = [&ended](int) { ++ended; };
        // Each address is its own work folder.
        task->SetUrl(server.url(QStringLiteral("/clear/index.m3u8?task=%1").arg(i)));
        task->SetOutput(base.filePath(QStringLiteral("out%1.mp4").arg(i)));
        task->Start();
        tasks.push_back(std::move(task));
    }
    // The analysis (one fetch and one probe per task) is not what is measured.
    RunFor(500);
    meter.Reset();
    RunFor(seconds * 1000);
    const double pollWorst = meter.WorstMs();

    meter.Reset();
    QElapsedTimer stopClock;
    stopClock.start();
    for (auto &task : tasks)
        task->Stop();
    while (ended < kTasks && stopClock.elapsed() < 60000)
        RunFor(20);
    const double stopWorst = meter.WorstMs();
    const qint64 stopMs = stopClock.elapsed();
    tasks.clear();
    server.stop();

    std::printf("tasks: %d stalled, polled for %d s\n", kTasks, seconds);
    std::printf("longest event-loop gap while polling: %.1f ms\n", pollWorst);
    std::printf("longest event-loop gap while stopping: %.1f ms (all %d ended after %lld ms)\n",
                stopWorst, ended, static_cast<long long>(stopMs));
    std::printf("target: below 50 ms: %s\n",
                std::max(pollWorst, stopWorst) < 50.0 ? "met" : "missed");
    return ended == kTasks ? 0 : 1;
}
