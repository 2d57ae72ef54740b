// How Korvi ends, on real processes: a signal (log-out, Ctrl+C, a closed terminal) and the
// tray's exit leave through the window's normal closing path, so the settings history and the
// task list are written and the tools the program started are ended; tasks are saved soon after
// they are added, so even a kill keeps them. The real program is used where no user is needed,
// korvi_probe (the same run with a scripted user) where tasks must be added or started.

#include "HlsTestServer.h"
#include "TestStreams.h"
#include "TestTools.h"

#include "support/WorkFolders.h"
#include "tasks/queue/TaskStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <unistd.h>

namespace {

constexpr int kBoundMs = 30000;

// The user's own folder inside a run's temporary folder, where the work folders live.
QString PrivateTemp(const QString &folder) {
    return QDir(folder).filePath(QStringLiteral("tmp/korvi-")) + QString::number(getuid());
}

struct StoredTask {
    QString output;
    QString address;
};

QList<StoredTask> StoredTasks(const QString &path) {
    QList<StoredTask> tasks;
    const QString text = QString::fromUtf8(TestTools::ReadFile(path));
    for (const QString &line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        StoredTask task;
        QString headers;
        if (ParseTaskLine(line, task.output, task.address, headers))
            tasks << task;
    }
    return tasks;
}

// The processes whose parent is `pid`, read from /proc.
QList<qint64> ChildrenOf(qint64 pid) {
    QList<qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 candidate = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QByteArray stat = TestTools::ReadFile(QStringLiteral("/proc/%1/stat").arg(entry));
        // "pid (comm) state ppid ...": the name may hold blanks and parentheses.
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid)
            children << candidate;
    }
    return children;
}

bool IsAlive(qint64 pid) {
    const QByteArray stat = TestTools::ReadFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    // A zombie has ended; only its parent's wait is missing.
    return close >= 0 && stat.mid(close + 2, 1) != "Z";
}

// One Korvi process with its own home, settings, runtime and temporary folders; killed by its
// own handle when the test ends, whatever happened.
class Run {
public:
    explicit Run(const QString &base) : m_base(base) {
        for (const char *sub : {"home/.local/share", "config", "run", "tmp"})
            QDir().mkpath(QDir(base).filePath(QString::fromLatin1(sub)));
        QFile::setPermissions(QDir(base).filePath(QStringLiteral("run")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), QDir(base).filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"),
                   QDir(base).filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QDir(base).filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("TMPDIR"), QDir(base).filePath(QStringLiteral("tmp")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("KORVI_TEST"), QStringLiteral("1"));
        for (const char *proxy :
             {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
            env.remove(QString::fromLatin1(proxy));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~Run() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(kBoundMs);
        }
    }
    bool Start(const QString &program, const QStringList &args) {
        m_process.start(program, args);
        return m_process.waitForStarted(kBoundMs);
    }
    bool WaitReady() {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kBoundMs) {
            if (m_process.canReadLine() && m_process.readLine().trimmed() == "ready")
                return true;
            m_process.waitForReadyRead(200);
            if (m_process.state() == QProcess::NotRunning)
                return false;
        }
        return false;
    }
    void Signal(int signalNumber) { ::kill(pid_t(m_process.processId()), signalNumber); }
    // True when the process ended by itself, normally and with code 0, within the bound.
    bool EndedCleanly() {
        return m_process.waitForFinished(kBoundMs) &&
               m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    QProcess &Process() { return m_process; }
    QString Home() const { return QDir(m_base).filePath(QStringLiteral("home")); }

private:
    QString m_base;
    QProcess m_process;
};

QString Probe() {
    return QStringLiteral(KORVI_BINARY_DIR "/korvi_probe");
}

}  // namespace

class TestExitPaths : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void signal_leaves_through_the_normal_exit_data();
    void signal_leaves_through_the_normal_exit();
    void sigterm_while_downloading_stops_the_tools_and_keeps_the_tasks();
    void tasks_added_are_on_disk_before_a_kill();
    void download_that_ignores_stop_does_not_hold_a_signal_for_ever();
    void tray_exit_ends_the_program_data();
    void tray_exit_ends_the_program();

private:
    QString Folder(const QString &name) const { return m_base.filePath(name); }
    QString WriteIni(const QString &folder, const QByteArray &options);

    QTemporaryDir m_base;
};

void TestExitPaths::initTestCase() {
    QVERIFY(m_base.isValid());
    QVERIFY2(QFileInfo(QStringLiteral(KORVI_BINARY_DIR "/korvi")).isExecutable(), "build korvi");
    QVERIFY2(QFileInfo(Probe()).isExecutable(), "build korvi_probe");
}

QString TestExitPaths::WriteIni(const QString &folder, const QByteArray &options) {
    const QString ini = QDir(folder).filePath(QStringLiteral("korvi.ini"));
    TestTools::WriteFile(ini, "[Options]\r\nSoundTips=False\r\nBalloonHint=False\r\n" + options);
    return ini;
}

void TestExitPaths::signal_leaves_through_the_normal_exit_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestExitPaths::signal_leaves_through_the_normal_exit() {
    QFETCH(int, signalNumber);
    // The program itself, copied so its settings and task list beside it are this test's own.
    const QString folder = Folder(QStringLiteral("signal-%1").arg(signalNumber));
    const QString bin = QDir(folder).filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(QFile::copy(QStringLiteral(KORVI_BINARY_DIR "/korvi"), bin + "/korvi"));
    QVERIFY(QFile::setPermissions(bin + "/korvi",
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // Written by an older run: a relative output, which this run keeps absolute.
    QVERIFY(TestTools::WriteFile(bin + "/Tasks.dat", "c.mp4|http://127.0.0.1:9/c.m3u8|\r\n"));
    // Work folders kept for resuming: the loaded row's stays, the one no row names goes.
    const QString tmp = PrivateTemp(folder);
    QVERIFY(QDir().mkpath(tmp));
    QVERIFY(QFile::setPermissions(tmp, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QStringList kept;
    for (const char *url : {"http://127.0.0.1:9/c.m3u8", "http://127.0.0.1:9/gone.m3u8"}) {
        kept << tmp + "/" + WorkIdFor(QString::fromLatin1(url));
        QVERIFY(TestTools::WriteFile(kept.last() + "/index.m3u8", "#EXTM3U\n"));
        QVERIFY(TestTools::WriteFile(
            kept.last() + "/" + WorkListFileName(WorkIdFor(QString::fromLatin1(url))), "x\n"));
    }

    Run run(folder);
    QVERIFY(run.Start(bin + "/korvi", {}));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(QDir(folder).filePath("run/Korvi")), kBoundMs);
    run.Signal(signalNumber);
    QVERIFY2(run.EndedCleanly(), "the signal must end the program through its exit path");
    const QString ini = QString::fromUtf8(TestTools::ReadFile(bin + "/korvi.ini"));
    QVERIFY2(ini.contains(QStringLiteral("Version=1.")), qPrintable(ini));
    QVERIFY(ini.contains(QStringLiteral("[History]")));
    const QList<StoredTask> tasks = StoredTasks(bin + "/Tasks.dat");
    QCOMPARE(tasks.size(), 1);
    QCOMPARE(tasks[0].output, run.Home() + "/c.mp4");
    QVERIFY(IsWorkDir(kept[0]));
    QVERIFY(!QFileInfo::exists(kept[1]));
}

void TestExitPaths::sigterm_while_downloading_stops_the_tools_and_keeps_the_tasks() {
    if (QStandardPaths::findExecutable("aria2c").isEmpty())
        QSKIP("aria2c is needed");
    QVERIFY2(!TestStreams::Root().isEmpty(), "the test streams could not be made");
    HlsTestServer server;
    HlsServerOptions options;
    // The first segment arrives (the analysis probes it); the others never do.
    options.stallPattern = QStringLiteral("seg[1-9][0-9]*\\.ts$");
    QVERIFY2(server.start(TestStreams::Root(), options), qPrintable(server.errorString()));

    const QString folder = Folder(QStringLiteral("downloading"));
    const QString ini = WriteIni(folder, "LimitTasks=2\r\n");
    QStringList args{QStringLiteral("--ini"), ini, QStringLiteral("--start")};
    QStringList urls;
    for (int n = 1; n <= 3; ++n) {
        urls << server.url(QStringLiteral("/clear/index.m3u8?copy=%1").arg(n));
        args << urls.last() << QStringLiteral("v%1.mp4").arg(n);
    }
    Run run(folder);
    QVERIFY(run.Start(Probe(), args));
    QVERIFY(run.WaitReady());
    QTRY_VERIFY_WITH_TIMEOUT(ChildrenOf(run.Process().processId()).size() >= 2, kBoundMs);
    const QList<qint64> tools = ChildrenOf(run.Process().processId());

    run.Signal(SIGTERM);
    QVERIFY(run.EndedCleanly());
    for (const qint64 pid : tools)
        QVERIFY2(!IsAlive(pid), qPrintable(QStringLiteral("process %1 outlived Korvi").arg(pid)));
    server.stop();

    // The next start finds every task, running ones included, with its absolute output.
    const QList<StoredTask> tasks = StoredTasks(QDir(folder).filePath("Tasks.dat"));
    QCOMPARE(tasks.size(), 3);
    for (int n = 0; n < 3; ++n) {
        QCOMPARE(tasks[n].address, urls[n]);
        QCOMPARE(tasks[n].output, run.Home() + QStringLiteral("/v%1.mp4").arg(n + 1));
    }
    // The two stopped downloads keep their folders and records, for the next start to resume.
    for (int n = 0; n < 2; ++n) {
        const QString workDir = PrivateTemp(folder) + "/" + WorkIdFor(urls[n]);
        QVERIFY2(IsWorkDir(workDir), qPrintable(workDir));
        QVERIFY(QFileInfo(workDir + "/" + WorkRecordFileName(WorkIdFor(urls[n]))).size() > 0);
    }
    QVERIFY(TestTools::ReadFile(ini).contains("Version="));
}

void TestExitPaths::tasks_added_are_on_disk_before_a_kill() {
    const QString folder = Folder(QStringLiteral("killed"));
    const QString ini = WriteIni(folder, QByteArray());
    const QString tasksFile = QDir(folder).filePath("Tasks.dat");
    Run run(folder);
    QVERIFY(run.Start(Probe(), {QStringLiteral("--ini"), ini, QStringLiteral("http://h/1.m3u8"),
                                "/v/1.mp4", QStringLiteral("http://h/2.m3u8|x"), "/v/2.mp4"}));
    QVERIFY(run.WaitReady());
    QTRY_COMPARE_WITH_TIMEOUT(StoredTasks(tasksFile).size(), 2, kBoundMs);
    run.Process().kill();
    QVERIFY(run.Process().waitForFinished(kBoundMs));
    const QList<StoredTask> tasks = StoredTasks(tasksFile);
    QCOMPARE(tasks.size(), 2);
    QCOMPARE(tasks[1].address, QStringLiteral("http://h/2.m3u8|x"));
}

void TestExitPaths::download_that_ignores_stop_does_not_hold_a_signal_for_ever() {
    const QString folder = Folder(QStringLiteral("stubborn"));
    const QString ini = WriteIni(folder, QByteArray());
    Run run(folder);
    QVERIFY(run.Start(Probe(),
                      {QStringLiteral("--ini"), ini, QStringLiteral("--stubborn"),
                       QStringLiteral("--start"), QStringLiteral("http://h/1.m3u8"), "/v/1.mp4"}));
    QVERIFY(run.WaitReady());
    run.Signal(SIGTERM);
    // The close is refused while the download runs; after the grace period it closes anyway.
    QVERIFY(run.EndedCleanly());
    QCOMPARE(StoredTasks(QDir(folder).filePath("Tasks.dat")).size(), 1);
    QVERIFY(TestTools::ReadFile(ini).contains("Version="));
}

void TestExitPaths::tray_exit_ends_the_program_data() {
    QTest::addColumn<QString>("state");
    QTest::newRow("shown") << "shown";
    QTest::newRow("minimised to the tray") << "minimised";
    QTest::newRow("hidden in the tray") << "hidden";
}

void TestExitPaths::tray_exit_ends_the_program() {
    QFETCH(QString, state);
    const QString folder = Folder(QStringLiteral("tray-") + state);
    const QString ini = WriteIni(folder, QByteArray());
    Run run(folder);
    QVERIFY(run.Start(
        Probe(),
        {QStringLiteral("--ini"), ini, QStringLiteral("--tray"), QStringLiteral("--state"), state,
         QStringLiteral("--exit-from-tray"), QStringLiteral("http://h/1.m3u8"), "/v/1.mp4"}));
    QVERIFY(run.WaitReady());
    QVERIFY2(run.EndedCleanly(), "the tray's exit must end the process");
    QVERIFY(TestTools::ReadFile(ini).contains("Version="));
    QCOMPARE(StoredTasks(QDir(folder).filePath("Tasks.dat")).size(), 1);
}

QTEST_GUILESS_MAIN(TestExitPaths)
#include "tst_exitpaths.moc"
