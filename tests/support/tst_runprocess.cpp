#include "support/ProcessUtils.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <memory>

namespace {

const QString kProbe = QStringLiteral(ARGV_PROBE);

// The probe writes its arguments, then its working directory, one per line.
QStringList ReadProbe(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("<no probe output>")};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool ProcessAlive(qint64 pid) {
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0;
}

// Sends the test's own standard output and error into a file for as long as it lives, so a
// child that inherited them would leave its text there.
class CapturedStdStreams {
public:
    explicit CapturedStdStreams(const QString &path) {
        std::fflush(stdout);
        std::fflush(stderr);
        m_savedOut = ::dup(1);
        m_savedErr = ::dup(2);
        const int fd =
            ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~CapturedStdStreams() {
        std::fflush(stdout);
        std::fflush(stderr);
        ::dup2(m_savedOut, 1);
        ::dup2(m_savedErr, 2);
        ::close(m_savedOut);
        ::close(m_savedErr);
    }

private:
    int m_savedOut;
    int m_savedErr;
};

QProcess *g_presented = nullptr;
QString g_openedPath;

void StartingPresenter(QProcess *process) {
    g_presented = process;
    process->start();
    process->waitForStarted();
}

void RecordingOpener(const QString &path) {
    g_openedPath = path;
}

}  // namespace

class RunProcessTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void parameter_line_gets_one_leading_blank_data();
    void parameter_line_gets_one_leading_blank();

    void waiting_lets_timers_fire_while_the_child_runs();
    void waiting_handle_returns_a_finished_process();
    void waited_run_reports_how_the_child_ended_data();
    void waited_run_reports_how_the_child_ended();
    void without_wait_returns_while_the_child_still_runs();
    void handle_without_wait_returns_a_running_process();
    void quoted_arguments_reach_the_child_whole_data();
    void quoted_arguments_reach_the_child_whole();
    void empty_working_folder_keeps_the_callers();
    void given_working_folder_is_used();
    void missing_program_gives_zero_and_null();
    void missing_working_folder_gives_zero();
    void hidden_child_output_goes_nowhere_data();
    void hidden_child_output_goes_nowhere();
    void hidden_child_output_is_not_collected();
    void hidden_child_reads_an_empty_input();

    void end_process_stops_a_running_child();
    void end_process_kills_a_child_that_ignores_terminate();
    void end_process_is_safe_on_null_and_finished();
    void end_process_later_returns_at_once_and_kills_from_a_timer();

    void minimised_run_goes_to_the_presenter();
    void minimised_run_without_presenter_runs_hidden();
    void shell_opener_receives_the_path();

private:
    QString probeOut() const { return m_dir->filePath(QStringLiteral("probe.txt")); }
    std::unique_ptr<QTemporaryDir> m_dir;
    QList<qint64> m_pids;
};

void RunProcessTest::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("PROBE_OUT", QFile::encodeName(probeOut()));
    m_pids.clear();
}

void RunProcessTest::cleanup() {
    // Children a case left running are ended here, by their own process IDs.
    for (qint64 pid : std::as_const(m_pids)) {
        if (ProcessAlive(pid))
            ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    qunsetenv("PROBE_OUT");
    SetConsolePresenter(nullptr);
    SetShellOpener(nullptr);
    if (g_presented) {
        g_presented->kill();
        g_presented->waitForFinished(2000);
        delete g_presented;
        g_presented = nullptr;
    }
}

void RunProcessTest::parameter_line_gets_one_leading_blank_data() {
    QTest::addColumn<QString>("params");
    QTest::addColumn<QString>("normalised");
    QTest::newRow("empty") << ""
                           << " ";
    QTest::newRow("no blank") << "-y -i a.ts"
                              << " -y -i a.ts";
    QTest::newRow("one blank") << " -y"
                               << " -y";
    QTest::newRow("two blanks") << "  -y"
                                << "  -y";
    QTest::newRow("tab is not a blank") << "\t-y"
                                        << " \t-y";
    QTest::newRow("quote first") << "\"a b\""
                                 << " \"a b\"";
    QTest::newRow("blank only") << " "
                                << " ";
}

void RunProcessTest::parameter_line_gets_one_leading_blank() {
    QFETCH(QString, params);
    QFETCH(QString, normalised);
    QCOMPARE(NormaliseParamLine(params), normalised);
}

void RunProcessTest::waiting_lets_timers_fire_while_the_child_runs() {
    int ticks = 0;
    QTimer timer;
    timer.setInterval(100);
    connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
    timer.start();
    QElapsedTimer clock;
    clock.start();
    const qint64 pid =
        RunProcess(QStringLiteral("/bin/sleep"), QStringLiteral("1"), kShowHidden, true, QString());
    const qint64 elapsed = clock.elapsed();
    timer.stop();
    QVERIFY(pid > 0);
    QVERIFY2(elapsed >= 900, qPrintable(QString::number(elapsed)));
    QVERIFY2(ticks > 3, qPrintable(QString::number(ticks)));
    QVERIFY(!ProcessAlive(pid));
}

void RunProcessTest::waiting_handle_returns_a_finished_process() {
    std::unique_ptr<QProcess> process(
        RunProcessHandle(kProbe, QStringLiteral("done"), kShowHidden, true, QString()));
    QVERIFY(process);
    QCOMPARE(process->state(), QProcess::NotRunning);
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(ReadProbe(probeOut()).first(), QStringLiteral("done"));
}

void RunProcessTest::waited_run_reports_how_the_child_ended_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("params");
    QTest::addColumn<bool>("started");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("succeeded");
    QTest::newRow("status 3") << "/bin/sh"
                              << "-c \"echo out; echo err >&2; sleep 0.3; exit 3\"" << true << 3
                              << false;
    QTest::newRow("status 0") << "/bin/sh"
                              << "-c \"echo out; echo err >&2; sleep 0.3\"" << true << 0 << true;
    QTest::newRow("missing program") << "/nonexistent/tool"
                                     << "x" << false << -1 << false;
}

void RunProcessTest::waited_run_reports_how_the_child_ended() {
    QFETCH(QString, program);
    QFETCH(QString, params);
    QFETCH(bool, started);
    QFETCH(int, exitCode);
    QFETCH(bool, succeeded);
    QByteArray out, err;
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(20);
    ProcessRunOptions options;
    options.leadingArguments = {QStringLiteral("-e")};
    options.onStandardOutput = [&out](const QByteArray &bytes) { out += bytes; };
    options.onStandardError = [&err](const QByteArray &bytes) { err += bytes; };
    const ProcessRun run = RunProcessWithStatus(program, params, QString(), options);
    QCOMPARE(run.processId != 0, started);
    QCOMPARE(run.ended, started);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.Succeeded(), succeeded);
    if (started) {
        QVERIFY(run.exitedNormally);
        QCOMPARE(out, QByteArray("out\n"));
        QCOMPARE(err, QByteArray("err\n"));
        QVERIFY2(ticks > 0, "the event loop ran during the wait");
    }
}

void RunProcessTest::without_wait_returns_while_the_child_still_runs() {
    const qint64 pid = RunProcess(QStringLiteral("/bin/sleep"), QStringLiteral("30"), kShowHidden,
                                  false, QString());
    m_pids.append(pid);
    QVERIFY(pid > 0);
    QVERIFY(ProcessAlive(pid));
}

void RunProcessTest::handle_without_wait_returns_a_running_process() {
    std::unique_ptr<QProcess> process(RunProcessHandle(
        QStringLiteral("/bin/sleep"), QStringLiteral("30"), kShowHidden, false, QString()));
    QVERIFY(process);
    m_pids.append(process->processId());
    QCOMPARE(process->state(), QProcess::Running);
    QVERIFY(!process->waitForFinished(100));
    EndProcess(process.get(), 1000);
    QCOMPARE(process->state(), QProcess::NotRunning);
}

void RunProcessTest::quoted_arguments_reach_the_child_whole_data() {
    QTest::addColumn<QString>("params");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("plain") << "-y -i a.ts out.mp4" << QStringList{"-y", "-i", "a.ts", "out.mp4"};
    QTest::newRow("quoted blanks")
        << "-i \"/tmp/my dir/in put.ts\" -c copy \"/tmp/视频 1.mp4\""
        << QStringList{"-i", "/tmp/my dir/in put.ts", "-c", "copy", "/tmp/视频 1.mp4"};
    QTest::newRow("triple quote is a literal quote")
        << "-vf \"drawtext=text=\"\"\"hi there\"\"\"\" x"
        << QStringList{"-vf", "drawtext=text=\"hi there\"", "x"};
    QTest::newRow("header option") << "--header=\"Referer: http://127.0.0.1/\" -c"
                                   << QStringList{"--header=Referer: http://127.0.0.1/", "-c"};
    QTest::newRow("no shell expansion")
        << "$HOME *.ts `id` ;|&" << QStringList{"$HOME", "*.ts", "`id`", ";|&"};
}

void RunProcessTest::quoted_arguments_reach_the_child_whole() {
    QFETCH(QString, params);
    QFETCH(QStringList, args);
    QVERIFY(RunProcess(kProbe, params, kShowHidden, true, QString()) > 0);
    QStringList lines = ReadProbe(probeOut());
    QVERIFY(!lines.isEmpty());
    lines.removeLast();  // the working folder
    QCOMPARE(lines, args);
}

void RunProcessTest::empty_working_folder_keeps_the_callers() {
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    const qint64 pid = RunProcess(kProbe, QString(), kShowHidden, true, QString());
    QDir::setCurrent(saved);
    QVERIFY(pid > 0);
    QCOMPARE(ReadProbe(probeOut()).last(), QDir(m_dir->path()).canonicalPath());
}

void RunProcessTest::given_working_folder_is_used() {
    const QString work = m_dir->filePath(QStringLiteral("work folder"));
    QVERIFY(QDir().mkpath(work));
    std::unique_ptr<QProcess> process(
        RunProcessHandle(kProbe, QStringLiteral("x"), kShowHidden, true, work));
    QVERIFY(process);
    QCOMPARE(ReadProbe(probeOut()), QStringList({"x", QDir(work).canonicalPath()}));
}

void RunProcessTest::missing_program_gives_zero_and_null() {
    const QString missing = m_dir->filePath(QStringLiteral("no-such-tool"));
    QCOMPARE(RunProcess(missing, QStringLiteral("-y"), kShowHidden, true, QString()), 0);
    QCOMPARE(RunProcess(missing, QStringLiteral("-y"), kShowHidden, false, QString()), 0);
    QVERIFY(!RunProcessHandle(missing, QStringLiteral("-y"), kShowHidden, true, QString()));
    QVERIFY(!RunProcessHandle(missing, QStringLiteral("-y"), kShowHidden, false, QString()));
}

void RunProcessTest::missing_working_folder_gives_zero() {
    const QString missing = m_dir->filePath(QStringLiteral("gone"));
    QCOMPARE(RunProcess(kProbe, QString(), kShowHidden, true, missing), 0);
    QVERIFY(!RunProcessHandle(kProbe, QString(), kShowHidden, false, missing));
    QVERIFY(!QFile::exists(probeOut()));
}

void RunProcessTest::hidden_child_output_goes_nowhere_data() {
    QTest::addColumn<bool>("wait");
    QTest::newRow("waiting") << true;
    QTest::newRow("not waiting") << false;
}

void RunProcessTest::hidden_child_output_goes_nowhere() {
    QFETCH(bool, wait);
    const QString captured = m_dir->filePath(QStringLiteral("captured.txt"));
    qint64 pid = 0;
    {
        CapturedStdStreams capture(captured);
        // 1 MiB is far beyond a pipe's buffer: a child writing into an unread pipe would block.
        pid = RunProcess(kProbe, QStringLiteral("--spam 1048576 after"), kShowHidden, wait,
                         QString());
        m_pids.append(pid);
        if (!wait) {
            QElapsedTimer clock;
            clock.start();
            while (!QFile::exists(probeOut()) && clock.elapsed() < 20000)
                QTest::qWait(20);
        }
    }
    QVERIFY(pid > 0);
    QVERIFY(QFile::exists(probeOut()));
    QCOMPARE(ReadProbe(probeOut()).mid(0, 3), QStringList({"--spam", "1048576", "after"}));
    QFile output(captured);
    QVERIFY(output.open(QIODevice::ReadOnly));
    QVERIFY2(!output.readAll().contains("SSSS"), "the child's output reached the caller's streams");
}

void RunProcessTest::hidden_child_output_is_not_collected() {
    std::unique_ptr<QProcess> process(
        RunProcessHandle(kProbe, QStringLiteral("--spam 1048576"), kShowHidden, true, QString()));
    QVERIFY(process);
    QCOMPARE(process->state(), QProcess::NotRunning);
    QVERIFY(QFile::exists(probeOut()));
    QCOMPARE(process->readAllStandardOutput().size(), 0);
    QCOMPARE(process->readAllStandardError().size(), 0);
}

void RunProcessTest::hidden_child_reads_an_empty_input() {
    // A child that reads its input would wait for ever on an open pipe nobody writes to.
    std::unique_ptr<QProcess> process(
        RunProcessHandle(kProbe, QStringLiteral("--read-stdin"), kShowHidden, false, QString()));
    QVERIFY(process);
    m_pids.append(process->processId());
    QVERIFY(process->waitForFinished(10000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QVERIFY(QFile::exists(probeOut()));
}

void RunProcessTest::end_process_stops_a_running_child() {
    std::unique_ptr<QProcess> process(RunProcessHandle(
        QStringLiteral("/bin/sleep"), QStringLiteral("30"), kShowHidden, false, QString()));
    QVERIFY(process);
    const qint64 pid = process->processId();
    m_pids.append(pid);
    EndProcess(process.get(), 2000);
    QCOMPARE(process->state(), QProcess::NotRunning);
    QVERIFY(!ProcessAlive(pid));
}

void RunProcessTest::end_process_kills_a_child_that_ignores_terminate() {
    std::unique_ptr<QProcess> process(
        RunProcessHandle(kProbe, QStringLiteral("--ignore-term"), kShowHidden, false, QString()));
    QVERIFY(process);
    m_pids.append(process->processId());
    // Once the probe has written its file it has installed its SIGTERM handler.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(probeOut()), 10000);
    process->terminate();
    QVERIFY(!process->waitForFinished(300));
    EndProcess(process.get(), 200);
    QCOMPARE(process->state(), QProcess::NotRunning);
    QCOMPARE(process->exitStatus(), QProcess::CrashExit);
}

void RunProcessTest::end_process_is_safe_on_null_and_finished() {
    EndProcess(nullptr);
    std::unique_ptr<QProcess> process(
        RunProcessHandle(kProbe, QString(), kShowHidden, true, QString()));
    QVERIFY(process);
    EndProcess(process.get());
    QCOMPARE(process->state(), QProcess::NotRunning);
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
}

void RunProcessTest::end_process_later_returns_at_once_and_kills_from_a_timer() {
    EndProcessLater(nullptr);
    QPointer<QProcess> process(
        RunProcessHandle(kProbe, QStringLiteral("--ignore-term"), kShowHidden, false, QString()));
    QVERIFY(process);
    const qint64 pid = process->processId();
    m_pids.append(pid);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(probeOut()), 10000);
    EndProcessLater(process, 300);
    // Handed over still running: the caller did not wait for it.
    QVERIFY(process);
    QCOMPARE(process->state(), QProcess::Running);
    QCOMPARE(ProcessesBeingEnded(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!process, 10000);
    QCOMPARE(ProcessesBeingEnded(), 0);
    QVERIFY(!ProcessAlive(pid));
}

void RunProcessTest::minimised_run_goes_to_the_presenter() {
    SetConsolePresenter(StartingPresenter);
    const QString work = m_dir->path();
    const qint64 pid =
        RunProcess(kProbe, QStringLiteral("-i \"a b.ts\""), kShowMinNoActive, false, work);
    QVERIFY(g_presented);
    QVERIFY(pid > 0);
    m_pids.append(pid);
    QCOMPARE(pid, g_presented->processId());
    QCOMPARE(g_presented->program(), kProbe);
    QCOMPARE(g_presented->arguments(), QStringList({"-i", "a b.ts"}));
    QCOMPARE(g_presented->workingDirectory(), work);
    QVERIFY(g_presented->waitForFinished(10000));
    QCOMPARE(ReadProbe(probeOut()).mid(0, 2), QStringList({"-i", "a b.ts"}));

    // Hidden runs never reach the presenter.
    QProcess *presented = g_presented;
    QVERIFY(RunProcess(kProbe, QString(), kShowHidden, true, QString()) > 0);
    QCOMPARE(g_presented, presented);
}

void RunProcessTest::minimised_run_without_presenter_runs_hidden() {
    const QString captured = m_dir->filePath(QStringLiteral("captured.txt"));
    qint64 pid = 0;
    {
        CapturedStdStreams capture(captured);
        pid = RunProcess(kProbe, QStringLiteral("--spam 8192"), kShowMinNoActive, true, QString());
    }
    QVERIFY(pid > 0);
    QVERIFY(!g_presented);
    QVERIFY(QFile::exists(probeOut()));
    QFile output(captured);
    QVERIFY(output.open(QIODevice::ReadOnly));
    QVERIFY(!output.readAll().contains("SSSS"));
}

void RunProcessTest::shell_opener_receives_the_path() {
    SetShellOpener(RecordingOpener);
    g_openedPath.clear();
    OpenWithShell(QStringLiteral("/tmp/视频 folder"));
    QCOMPARE(g_openedPath, QStringLiteral("/tmp/视频 folder"));
}

QTEST_GUILESS_MAIN(RunProcessTest)
#include "tst_runprocess.moc"
