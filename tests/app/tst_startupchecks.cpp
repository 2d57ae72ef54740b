// The start-up checks: missing external tools and a 32-bit system each give their one box, and
// the window starts in every case.
#include "QuietSeams.h"
#include "RecordingMessages.h"
#include "TestTools.h"
#include "app/UnitFormMain.h"
#include "support/ExternalTools.h"
#include "tasks/page/M3u8Page.h"
#include "tasks/queue/TaskScheduler.h"
#include "tasks/queue/TaskStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool MakeFakeTool(const QString &folder, const QString &name) {
    QFile file(QDir(folder).filePath(name));
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write("#!/bin/sh\nexit 0\n");
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

const QString kToolsCaption = QStringLiteral("Korvi组件缺失");
const QString kSystemCaption = QStringLiteral("Korvi 系统版本");
const QString kSystemText = QStringLiteral("32位系统需要自行替换32位的 ffmpeg 和 aria2");

}  // namespace

class TestStartupChecks : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_programDir.reset(new QTemporaryDir);
        m_pathDir.reset(new QTemporaryDir);
        QVERIFY(m_programDir->isValid() && m_pathDir->isValid());
        // An empty search path hides the machine's own tools.
        ExternalTools::Instance().SetProgramDir(m_programDir->path());
        ExternalTools::Instance().SetSearchPath({});
    }

    void cleanup() { ExternalTools::Instance().Reset(); }

    void missing_tools_give_one_error_box_data() {
        QTest::addColumn<QString>("ffmpegIn");  // "program", "path" or "" (missing)
        QTest::addColumn<QString>("aria2In");
        QTest::addColumn<QString>("text");  // empty: no box
        QTest::newRow("both missing") << ""
                                      << "" << QStringLiteral("请不要删除ffmpeg.exe和aria2c.exe");
        QTest::newRow("aria2c missing") << "program"
                                        << "" << QStringLiteral("请不要删除aria2c.exe");
        QTest::newRow("ffmpeg missing") << ""
                                        << "program" << QStringLiteral("请不要删除ffmpeg.exe");
        QTest::newRow("both in the program folder") << "program"
                                                    << "program" << QString();
        QTest::newRow("both on the search path") << "path"
                                                 << "path" << QString();
        QTest::newRow("one in each place") << "path"
                                           << "program" << QString();
        QTest::newRow("aria2c missing, ffmpeg on the path")
            << "path"
            << "" << QStringLiteral("请不要删除aria2c.exe");
    }

    void missing_tools_give_one_error_box() {
        QFETCH(QString, ffmpegIn);
        QFETCH(QString, aria2In);
        QFETCH(QString, text);
        const auto place = [this](const QString &where, const QString &tool) {
            if (where == QLatin1String("program")) {
                QVERIFY(MakeFakeTool(m_programDir->path(), tool));
            } else if (where == QLatin1String("path")) {
                QVERIFY(MakeFakeTool(m_pathDir->path(), tool));
            }
        };
        place(ffmpegIn, QStringLiteral("ffmpeg"));
        place(aria2In, QStringLiteral("aria2c"));
        ExternalTools::Instance().SetSearchPath({m_pathDir->path()});

        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));

        if (text.isEmpty()) {
            QCOMPARE(messages.boxes.size(), 0);
        } else {
            QCOMPARE(messages.boxes.size(), 1);
            QCOMPARE(messages.boxes[0].kind, QStringLiteral("error"));
            QCOMPARE(messages.boxes[0].caption, kToolsCaption);
            QCOMPARE(messages.boxes[0].text, text);
        }
        // The start goes on whatever is missing.
        QCOMPARE(w.findChild<QTabWidget *>(QStringLiteral("TPageControl1"))->count(), 4);
        // A missing ffmpeg still leaves a path, so a later run names what it could not start.
        const QString ffmpegDir =
            ffmpegIn == QLatin1String("path") ? m_pathDir->path() : m_programDir->path();
        QCOMPARE(w.FFmpegPath, QDir(ffmpegDir).filePath(QStringLiteral("ffmpeg")));
    }

    void a_file_that_cannot_run_is_no_tool() {
        QFile plain(QDir(m_programDir->path()).filePath(QStringLiteral("ffmpeg")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QVERIFY(MakeFakeTool(m_programDir->path(), QStringLiteral("aria2c")));
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        QCOMPARE(messages.boxes.size(), 1);
        QCOMPARE(messages.boxes[0].text, QStringLiteral("请不要删除ffmpeg.exe"));
    }

    void the_check_runs_again_on_request() {
        RecordingMessages messages;
        TfrmMain w(QuietSeams(messages));
        QCOMPARE(messages.boxes.size(), 1);
        QVERIFY(MakeFakeTool(m_programDir->path(), QStringLiteral("ffmpeg")));
        QVERIFY(MakeFakeTool(m_programDir->path(), QStringLiteral("aria2c")));
        w.CheckComponents();
        QCOMPARE(messages.boxes.size(), 1);
        QFile::remove(QDir(m_programDir->path()).filePath(QStringLiteral("aria2c")));
        w.CheckComponents();
        QCOMPARE(messages.boxes.size(), 2);
        QCOMPARE(messages.boxes[1].text, QStringLiteral("请不要删除aria2c.exe"));
    }

    void system_box_only_on_a_32_bit_system_data() {
        QTest::addColumn<bool>("is64");
        QTest::newRow("64-bit") << true;
        QTest::newRow("32-bit") << false;
    }

    void system_box_only_on_a_32_bit_system() {
        QFETCH(bool, is64);
        QVERIFY(MakeFakeTool(m_programDir->path(), QStringLiteral("ffmpeg")));
        QVERIFY(MakeFakeTool(m_programDir->path(), QStringLiteral("aria2c")));
        RecordingMessages messages;
        int asked = 0;
        MainWindowSeams seams;
        seams.iniPath = FreshIniPath();
        seams.messages = &messages;
        seams.isWin64 = [&asked, is64] {
            ++asked;
            return is64;
        };
        TfrmMain w(seams);
        // No version has been stored yet, so every start checks.
        QCOMPARE(asked, 1);
        if (is64) {
            QCOMPARE(messages.boxes.size(), 0);
        } else {
            QCOMPARE(messages.boxes.size(), 1);
            QCOMPARE(messages.boxes[0].kind, QStringLiteral("warning"));
            QCOMPARE(messages.boxes[0].caption, kSystemCaption);
            QCOMPARE(messages.boxes[0].text, kSystemText);
        }
    }

    void tools_box_comes_before_the_system_box() {
        RecordingMessages messages;
        MainWindowSeams seams;
        seams.iniPath = FreshIniPath();
        seams.messages = &messages;
        seams.isWin64 = [] { return false; };
        TfrmMain w(seams);
        QCOMPARE(messages.boxes.size(), 2);
        QCOMPARE(messages.boxes[0].caption, kToolsCaption);
        QCOMPARE(messages.boxes[0].text, QStringLiteral("请不要删除ffmpeg.exe和aria2c.exe"));
        QCOMPARE(messages.boxes[1].caption, kSystemCaption);
    }

    void unreadable_files_are_reported_once_and_left_alone_data() {
        QTest::addColumn<QString>("unreadable");  // the file that a socket stands in for
        QTest::newRow("task list") << "Tasks.dat";
        QTest::newRow("settings") << "korvi.ini";
    }

    void unreadable_files_are_reported_once_and_left_alone() {
        QFETCH(QString, unreadable);
        QVERIFY(MakeFakeTool(m_programDir->path(), QStringLiteral("ffmpeg")));
        QVERIFY(MakeFakeTool(m_programDir->path(), QStringLiteral("aria2c")));
        QTemporaryDir folder;
        const QString path = folder.filePath(unreadable);
        QVERIFY(TestTools::MakeSocketFile(path));
        RecordingMessages messages;
        MainWindowSeams seams;
        seams.iniPath = folder.filePath(QStringLiteral("korvi.ini"));
        seams.messages = &messages;
        seams.isWin64 = [] { return true; };
        {
            TfrmMain window(seams);
            QCOMPARE(messages.boxes.size(), 1);
            QCOMPARE(messages.boxes[0].kind, QStringLiteral("warning"));
            QVERIFY2(messages.boxes[0].text.contains(QDir::toNativeSeparators(path)),
                     qPrintable(messages.boxes[0].text));
            window.M3u8()->Scheduler()->AddM3u8Task(QStringLiteral("http://h/a.m3u8"),
                                                    QStringLiteral("/v/a.mp4"), QString());
            QTest::qWait(TaskListSaver::DefaultDelayMs + 200);
        }
        QCOMPARE(messages.boxes.size(), 1);
        QVERIFY2(QFileInfo::exists(path) && !QFileInfo(path).isFile(), "the file was replaced");
        // The other file is written as ever.
        if (unreadable == QLatin1String("Tasks.dat")) {
            QVERIFY(TestTools::ReadFile(seams.iniPath).contains("Version="));
        } else {
            QVERIFY(TestTools::ReadFile(folder.filePath(QStringLiteral("Tasks.dat")))
                        .contains("/v/a.mp4|"));
        }
    }

    void failed_task_list_saves_are_reported_once_per_failure() {
        QVERIFY(MakeFakeTool(m_programDir->path(), QStringLiteral("ffmpeg")));
        QVERIFY(MakeFakeTool(m_programDir->path(), QStringLiteral("aria2c")));
        QTemporaryDir folder;
        RecordingMessages messages;
        MainWindowSeams seams;
        seams.iniPath = folder.filePath(QStringLiteral("korvi.ini"));
        seams.messages = &messages;
        seams.isWin64 = [] { return true; };
        TfrmMain window(seams);
        QCOMPARE(messages.boxes.size(), 0);
        TaskListSaver *saver = window.TaskSaver();
        saver->SetDelay(10);
        const QString tasks = folder.filePath(QStringLiteral("Tasks.dat"));
        int added = 0;
        auto addAndSave = [&] {
            window.M3u8()->Scheduler()->AddM3u8Task(QStringLiteral("http://h/%1.m3u8").arg(++added),
                                                    QStringLiteral("/v/a.mp4"), QString());
            QTRY_VERIFY(!saver->IsPending());
        };
        // A folder in the file's place: no save can replace it, root's included.
        QVERIFY(TestTools::WriteFile(tasks + QStringLiteral("/blocker"), "x"));
        addAndSave();
        addAndSave();
        QCOMPARE(messages.boxes.size(), 1);
        QCOMPARE(messages.boxes[0].kind, QStringLiteral("warning"));
        QVERIFY2(messages.boxes[0].text.contains(QDir::toNativeSeparators(tasks)),
                 qPrintable(messages.boxes[0].text));

        QVERIFY(QDir(tasks).removeRecursively());
        addAndSave();
        QVERIFY(TestTools::ReadFile(tasks).contains("http://h/3.m3u8"));
        QVERIFY(QFile::remove(tasks));
        QVERIFY(TestTools::WriteFile(tasks + QStringLiteral("/blocker"), "x"));
        addAndSave();
        QCOMPARE(messages.boxes.size(), 2);
        QVERIFY(QDir(tasks).removeRecursively());
    }

private:
    std::unique_ptr<QTemporaryDir> m_programDir;
    std::unique_ptr<QTemporaryDir> m_pathDir;
};

QTEST_MAIN(TestStartupChecks)
#include "tst_startupchecks.moc"
