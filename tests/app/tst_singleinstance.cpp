// One copy per user: a later start of the real program hands over to the running copy (this test
// process) and exits; a socket left by a killed copy does not stop the next start.
#include "QuietSeams.h"
#include "RecordingMessages.h"
#include "app/OneApp.h"
#include "app/UnitFormMain.h"
#include "tasks/page/M3u8Page.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr int kProcessBoundMs = 30000;

QString KorviProgram() {
    return QStringLiteral(KORVI_BINARY_DIR "/korvi");
}

// A copy of the real program in its own runtime folder; killed by its own handle when the test
// ends, whatever happened.
class KorviCopy {
public:
    explicit KorviCopy(const QString &runtimeDir) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
    }
    ~KorviCopy() { Kill(); }

    bool Start(const QStringList &args = {}) {
        m_process.start(KorviProgram(), args);
        return m_process.waitForStarted(kProcessBoundMs);
    }
    void Kill() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(kProcessBoundMs);
        }
    }
    QProcess &Process() { return m_process; }

private:
    QProcess m_process;
};

bool CanConnect(const QString &path) {
    QLocalSocket socket;
    socket.connectToServer(path);
    const bool connected = socket.waitForConnected(1000);
    socket.abort();
    return connected;
}

}  // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QFileInfo(KorviProgram()).isExecutable(), qPrintable(KorviProgram()));
        QVERIFY(m_runtime.isValid());
        m_savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }

    void cleanupTestCase() {
        SetActivateInstanceHandler(nullptr);
        qputenv("XDG_RUNTIME_DIR", m_savedRuntime);
    }

    void socket_lives_in_the_runtime_folder() {
        QCOMPARE(InstanceSocketPath(), QDir(m_runtime.path()).filePath(QStringLiteral("Korvi")));
    }

    void without_a_runtime_folder_the_socket_is_per_user_in_temp() {
#ifndef Q_OS_UNIX
        QSKIP("the socket is a named pipe here");
#else
        qunsetenv("XDG_RUNTIME_DIR");
        const QString path = InstanceSocketPath();
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        QCOMPARE(path, QDir::tempPath() + QStringLiteral("/Korvi-") + QString::number(getuid()));
#endif
    }

    void first_copy_listens_for_this_user_only() {
        QVERIFY(!IsAlreadyRunning());
        const QFileInfo socket(InstanceSocketPath());
        QVERIFY(socket.exists());
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(socket.permissions() & others, QFile::Permissions());
    }

    void later_start_brings_the_first_window_back_and_exits() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        QSignalSpy activated(&w, &TfrmMain::InstanceActivated);
        SetActivateInstanceHandler([&w] { w.WMActivateInstance(); });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.showMinimized();
        QTRY_VERIFY(w.isMinimized());

        KorviCopy second(m_runtime.path());
        QVERIFY(second.Start());
        // The event loop runs while waiting: this process is the copy that must answer.
        QTRY_COMPARE_WITH_TIMEOUT(second.Process().state(), QProcess::NotRunning, kProcessBoundMs);
        QCOMPARE(second.Process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.Process().exitCode(), 0);

        QTRY_COMPARE(activated.count(), 1);
        QVERIFY(w.isVisible());
        QVERIFY(!w.isMinimized());
        QTRY_COMPARE(QApplication::activeWindow(), &w);
        SetActivateInstanceHandler(nullptr);
        // The first copy still listens.
        QVERIFY(CanConnect(InstanceSocketPath()));
    }

    void later_start_with_a_playlist_opens_it_in_the_first_window() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        SetActivateInstanceHandler([&w] { w.WMActivateInstance(); });
        SetOpenFilesHandler([&w](const QStringList &files) { w.OpenFiles(files); });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        KorviCopy second(m_runtime.path());
        // Relative to the later start's own folder, which the first copy does not share.
        second.Process().setWorkingDirectory(m_runtime.path());
        QVERIFY(second.Start({QStringLiteral("clips/a b.m3u8"), QStringLiteral("other.m3u8")}));
        QTRY_COMPARE_WITH_TIMEOUT(second.Process().state(), QProcess::NotRunning, kProcessBoundMs);
        QCOMPARE(second.Process().exitCode(), 0);
        auto *address = w.findChild<QLineEdit *>(QStringLiteral("edtMUrl"));
        QVERIFY(address);
        QTRY_COMPARE(address->text(),
                     QDir(m_runtime.path()).filePath(QStringLiteral("clips/a b.m3u8")));
        QCOMPARE(w.findChild<QTabWidget *>(QStringLiteral("TPageControl1"))->currentWidget(),
                 static_cast<QWidget *>(w.M3u8()));
        SetOpenFilesHandler(nullptr);
        SetActivateInstanceHandler(nullptr);
    }

    void arguments_become_addresses_the_window_can_open_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("address");
        const QString cwd = QDir::currentPath();
        QTest::newRow("relative path") << "a.m3u8" << cwd + "/a.m3u8";
        QTest::newRow("absolute path") << "/x/../y/a.m3u8"
                                       << "/y/a.m3u8";
        QTest::newRow("file address") << "file:///y/a%20b.m3u8"
                                      << "/y/a b.m3u8";
        QTest::newRow("http address") << "http://127.0.0.1:9/a.m3u8?t=1"
                                      << "http://127.0.0.1:9/a.m3u8?t=1";
        QTest::newRow("blank") << "  " << QString();
    }

    void arguments_become_addresses_the_window_can_open() {
        QFETCH(QString, argument);
        QFETCH(QString, address);
        QCOMPARE(CommandLineAddresses({argument}),
                 address.isEmpty() ? QStringList() : QStringList{address});
    }

    void only_the_activation_message_activates() {
        int activations = 0;
        SetActivateInstanceHandler([&activations] { ++activations; });
        QLocalSocket socket;
        socket.connectToServer(InstanceSocketPath());
        QVERIFY(socket.waitForConnected(2000));
        socket.write("2713");
        QVERIFY(socket.waitForBytesWritten(2000));
        QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(activations, 0);

        QLocalSocket slow;
        slow.connectToServer(InstanceSocketPath());
        QVERIFY(slow.waitForConnected(2000));
        // The message may arrive in pieces.
        slow.write("27");
        QVERIFY(slow.waitForBytesWritten(2000));
        QTest::qWait(100);
        QCOMPARE(activations, 0);
        slow.write("12");
        QVERIFY(slow.waitForBytesWritten(2000));
        QTRY_COMPARE(activations, 1);
        SetActivateInstanceHandler(nullptr);
    }

    void stale_socket_of_a_killed_copy_does_not_block_the_next_start() {
        QTemporaryDir runtime;
        QVERIFY(runtime.isValid());
        const QString path = QDir(runtime.path()).filePath(QStringLiteral("Korvi"));

        KorviCopy killed(runtime.path());
        QVERIFY(killed.Start());
        QTRY_VERIFY_WITH_TIMEOUT(CanConnect(path), kProcessBoundMs);
        killed.Kill();
        QCOMPARE(killed.Process().exitStatus(), QProcess::CrashExit);
        QVERIFY2(QFileInfo::exists(path), "a killed copy leaves its socket behind");
        QVERIFY(!CanConnect(path));

        KorviCopy next(runtime.path());
        QVERIFY(next.Start());
        QTRY_VERIFY_WITH_TIMEOUT(CanConnect(path), kProcessBoundMs);
        QCOMPARE(next.Process().state(), QProcess::Running);

        // It is now the running copy: a third start hands over to it and exits.
        KorviCopy third(runtime.path());
        QVERIFY(third.Start());
        QVERIFY(third.Process().waitForFinished(kProcessBoundMs));
        QCOMPARE(third.Process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(third.Process().exitCode(), 0);
        QCOMPARE(next.Process().state(), QProcess::Running);
        next.Kill();
    }

private:
    QTemporaryDir m_runtime;
    QByteArray m_savedRuntime;
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
