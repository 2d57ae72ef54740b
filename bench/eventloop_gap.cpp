// Five download tasks whose segments never arrive (the test server's --stall mode) polled and
// then stopped in one event loop, as the window runs them; reports the longest gap between two
// turns of that loop. A gap is time in which the window could not repaint or take a click.
//
//   bench_eventloop_gap [--seconds N]   (default 8 s of polling, then all five are stopped)
//   bench_eventloop_gap --download N    five tasks of N segments each downloaded and merged
//                                       for real (50 ms per request): the longest gap, then
//                                       in a second pass without the meter, the process's
//                                       own CPU use and its peak resident memory

#include "HlsTestServer.h"
#include "TestStreams.h"
#include "TestTools.h"
#include "hls/TM3u8Class.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

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
            if (now - m_last > m_worst) {
                m_worst = now - m_last;
                m_worstAt = m_labelAtLast + QStringLiteral(" .. ") + m_label;
            }
            m_last = now;
            m_labelAtLast = m_label;
        });
        m_timer.start(0);
    }
    void Reset() {
        m_worst = 0;
        m_last = m_clock.nsecsElapsed();
    }
    double WorstMs() const { return double(m_worst) / 1e6; }
    void Stop() { m_timer.stop(); }
    // What the program last reported; the worst gap is told by the reports around it.
    void SetLabel(const QString &label) { m_label = label; }
    QString WorstAt() const { return m_worstAt; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worst = 0;
    QString m_label, m_labelAtLast, m_worstAt;
};

// Runs the loop for `ms` milliseconds.
void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// User plus system CPU time of this process (not of aria2c and ffmpeg), in seconds.
double OwnCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Peak resident memory of this process in MB (VmHWM).
double PeakRssMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

// Five tasks run to their end; the number that finished with an output.
int RunFiveDownloads(HlsTestServer &server, const QString &outDir, int pass,
                     GapMeter *meter = nullptr) {
    std::vector<std::unique_ptr<TM3u8>> tasks;
    int ended = 0, finished = 0;
    for (int i = 0; i < kTasks; ++i) {
        auto task = std::make_unique<TM3u8>();
        task->TaskId = i + 1;
        task->OnError = [&ended](int, const QString &message) {
            std::fprintf(stderr, "task error: %s\n", qPrintable(message));
            ++ended;
        };
        task->OnStop = [&ended](int) { ++ended; };
        task->OnFinish = [&ended, &finished, meter](int id) {
            ++ended, ++finished;
            if (meter)
                meter->SetLabel(QStringLiteral("task %1 finished").arg(id));
        };
        if (meter) {
            task->OnProgress = [meter](int id, const QString &, float, const QString &status) {
                meter->SetLabel(QStringLiteral("task %1 %2").arg(id).arg(status));
            };
        }
        task->SetUrl(
            server.url(QStringLiteral("/long/index.m3u8?pass=%1&task=%2").arg(pass).arg(i)));
        task->SetOutput(outDir + QStringLiteral("/out%1-%2.mp4").arg(pass).arg(i));
        task->Start();
        tasks.push_back(std::move(task));
    }
    QElapsedTimer clock;
    clock.start();
    while (ended < kTasks && clock.elapsed() < 900000)
        RunFor(20);
    return finished;
}

int RunDownloadMode(int segments, const QString &base) {
    const QString big = TestStreams::BigRoot();
    if (big.isEmpty()) {
        std::fprintf(stderr, "bench_eventloop_gap: the big test stream could not be made\n");
        return 1;
    }
    // A long playlist over the big stream's segments, in a folder of its own.
    const QString www = base + QStringLiteral("/www/long");
    QDir().mkpath(www);
    for (int i = 0; i < TestStreams::BigSegmentCount; ++i)
        QFile::copy(big + QStringLiteral("/big/seg%1.ts").arg(i),
                    www + QStringLiteral("/seg%1.ts").arg(i));
    QByteArray list = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n";
    for (int i = 0; i < segments; ++i)
        list +=
            "#EXTINF:0.5,\nseg" + QByteArray::number(i % TestStreams::BigSegmentCount) + ".ts\n";
    list += "#EXT-X-ENDLIST\n";
    QFile playlist(www + QStringLiteral("/index.m3u8"));
    if (!playlist.open(QIODevice::WriteOnly) || playlist.write(list) != list.size())
        return 1;
    playlist.close();

    HlsTestServer server;
    HlsServerOptions options;
    options.latencyMs = 50;
    options.maxSeconds = 1800;
    if (!server.start(base + QStringLiteral("/www"), options)) {
        std::fprintf(stderr, "bench_eventloop_gap: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    const QString outDir = base + QStringLiteral("/out");
    QDir().mkpath(outDir);

    GapMeter meter;
    meter.Start();
    QElapsedTimer wall;
    wall.start();
    const int finishedA = RunFiveDownloads(server, outDir, 1, &meter);
    const double worst = meter.WorstMs();
    const double wallA = double(wall.elapsed()) / 1000.0;
    meter.Stop();

    // The meter's zero-interval timer keeps a core busy, so CPU use is measured without it.
    const double cpu0 = OwnCpuSeconds();
    wall.restart();
    const int finishedB = RunFiveDownloads(server, outDir, 2);
    const double wallB = double(wall.elapsed()) / 1000.0;
    const double cpu = OwnCpuSeconds() - cpu0;
    server.stop();

    const double share = wallB > 0 ? 100.0 * cpu / wallB : 0;
    const double rss = PeakRssMb();
    std::printf("tasks: %d of %d segments each, 50 ms per request\n", kTasks, segments);
    std::printf("pass 1 (gap meter): %d finished in %.1f s, longest event-loop gap %.1f ms\n",
                finishedA, wallA, worst);
    std::printf("  the longest gap lay between these reports: %s\n", qPrintable(meter.WorstAt()));
    std::printf("pass 2: %d finished in %.1f s, own CPU %.2f s = %.1f%% of one core\n", finishedB,
                wallB, cpu, share);
    std::printf("peak resident memory: %.1f MB\n", rss);
    std::printf("targets: gap below 50 ms: %s; CPU below 5%%: %s; memory below 100 MB: %s\n",
                worst < 50.0 ? "met" : "missed", share < 5.0 ? "met" : "missed",
                rss < 100.0 ? "met" : "missed");
    return finishedA == kTasks && finishedB == kTasks ? 0 : 1;
}

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    int seconds = 8;
    const QStringList args = app.arguments();
    const int download = int(args.indexOf(QStringLiteral("--download")));
    if (download > 0 && download + 1 < args.size()) {
        QTemporaryDir base;
        if (!base.isValid())
            return 1;
        TestTools::IsolateEnvironment(base.path());
        return RunDownloadMode(std::max(1, args.at(download + 1).toInt()), base.path());
    }
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
