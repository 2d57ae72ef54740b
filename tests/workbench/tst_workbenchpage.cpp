// The workbench page in the window, by object names: its refusals, real ffmpeg runs in their run
// windows, a failing run that stays readable, and drops on its targets.
#include "../app/RecordingMessages.h"
#include "MediaProbe.h"
#include "TestTools.h"
#include "app/UnitFormMain.h"
#include "support/ProcessUtils.h"
#include "support/gui/GuiUtils.h"
#include "support/gui/RunWindow.h"
#include "workbench/WorkbenchCommand.h"
#include "workbench/WorkbenchPage.h"

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

QList<RunWindow *> RunWindows() {
    QList<RunWindow *> windows;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *run = qobject_cast<RunWindow *>(widget))
            windows.append(run);
    }
    return windows;
}

// Names and contents of every file in `dir`, to tell whether a refused run touched the disk.
QMap<QString, QByteArray> Snapshot(const QString &dir) {
    QMap<QString, QByteArray> files;
    for (const QFileInfo &info : QDir(dir).entryInfoList(QDir::Files | QDir::System))
        files.insert(info.fileName(), TestTools::ReadFile(info.filePath()));
    return files;
}

bool DropOn(QWidget *widget, const QStringList &paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
    return drop.isAccepted();
}

}  // namespace

class TestWorkbenchPage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void presets_menu_items_fill_the_editor();
    void refusals_show_their_message_and_leave_the_disk_alone_data();
    void refusals_show_their_message_and_leave_the_disk_alone();
    void runs_produce_media_in_a_run_window_that_closes_data();
    void runs_produce_media_in_a_run_window_that_closes();
    void failing_run_keeps_its_window_with_the_exit_status();
    void run_window_title_shows_the_percent_data();
    void run_window_title_shows_the_percent();
    void relative_output_with_quotes_is_written_beside_the_input();
    void clicks_on_the_input_alternate_between_clear_and_paste();
    void drops_fill_the_input_data();
    void drops_fill_the_input();
    void console_keeps_a_character_split_between_reads();
    void exit_asks_before_ending_a_run_and_never_waits_for_it();

private:
    template <typename T>
    T *Control(const char *name) {
        T *child = m_page->findChild<T *>(QString::fromLatin1(name));
        if (!child)
            qWarning("no control %s", name);
        return child;
    }
    void SetNames(const QString &input, const QString &output) {
        Control<QLineEdit>("edtFFInFile")->setText(input);
        Control<QLineEdit>("edtFFOutFile")->setText(output);
    }
    QString Path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    RecordingMessages m_messages;
    std::unique_ptr<TfrmMain> m_window;
    WorkbenchPage *m_page = nullptr;
    QString m_media;
};

void TestWorkbenchPage::initTestCase() {
    QVERIFY(m_dir.isValid());
    InstallGuiSupport();
    m_media = Path(QStringLiteral("clip.mkv"));
    QVERIFY(TestTools::RunTool(
        QStringLiteral("ffmpeg"),
        {"-v", "error", "-f", "lavfi", "-i", "testsrc=duration=2:size=160x120:rate=10", "-f",
         "lavfi", "-i", "sine=duration=2", "-c:v", "mpeg4", "-c:a", "aac", "-shortest", m_media}));
    MainWindowSeams seams;
    seams.iniPath = FreshIniPath();
    seams.messages = &m_messages;
    seams.isWin64 = [] { return true; };
    m_window = std::make_unique<TfrmMain>(seams);
    m_page = m_window->findChild<WorkbenchPage *>(QStringLiteral("TabSheet1"));
    QVERIFY(m_page);
    QVERIFY(QFileInfo(m_window->FFmpegPath).isExecutable());
}

void TestWorkbenchPage::cleanupTestCase() {
    qDeleteAll(RunWindows());
    m_window.reset();
}

void TestWorkbenchPage::init() {
    m_messages.boxes.clear();
    Control<QPlainTextEdit>("mmoFFCodec")->setPlainText(QStringLiteral("[input] -c copy [output]"));
}

void TestWorkbenchPage::presets_menu_items_fill_the_editor() {
    QMenu *menu = m_page->PresetsMenu();
    QCOMPARE(menu->objectName(), QStringLiteral("pMenuPresets"));
    QCOMPARE(menu->defaultAction()->objectName(), QStringLiteral("N1"));
    QVERIFY(menu->defaultAction()->font().bold());
    // Each item sits in the submenu the table names and puts its own line into the editor.
    int items = 0;
    for (const WorkbenchPreset &preset : WorkbenchPresets()) {
        QMenu *parent = preset.submenu.isEmpty() ? menu : menu->findChild<QMenu *>(preset.submenu);
        QVERIFY2(parent, qPrintable(preset.submenu));
        QAction *item = nullptr;
        for (QAction *action : parent->actions()) {
            if (action->objectName() == preset.name)
                item = action;
        }
        QVERIFY2(item, qPrintable(preset.name));
        QCOMPARE(item->text(), preset.caption);
        item->trigger();
        QCOMPARE(Control<QPlainTextEdit>("mmoFFCodec")->toPlainText(), preset.ParamLine());
        ++items;
    }
    QCOMPARE(items, 26);
    QCOMPARE(menu->findChild<QMenu *>(QStringLiteral("MP31"))->parent(),
             menu->findChild<QMenu *>(QStringLiteral("N9")));
}

void TestWorkbenchPage::refusals_show_their_message_and_leave_the_disk_alone_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("message");
    const QString dir = m_dir.path();
    QTest::newRow("empty input") << "  " << dir + "/out.mp4"
                                 << "输入文件不存在！";
    QTest::newRow("missing input") << dir + "/none.mp4" << dir + "/out.mp4"
                                   << "输入文件不存在！";
    QTest::newRow("empty output") << dir + "/in.mp4"
                                  << " \t"
                                  << "未设置输出文件名";
    QTest::newRow("no extension") << dir + "/in.mp4" << dir + "/out"
                                  << "没有扩展名，可能会转码失败";
    QTest::newRow("same text") << dir + "/in.mp4"
                               << " " + dir + "/in.mp4 "
                               << "输入和输出文件名相同,无法转码";
    QTest::newRow("dot segment") << dir + "/in.mp4" << dir + "/./in.mp4"
                                 << "输入和输出文件名相同,无法转码";
    QTest::newRow("relative name") << dir + "/in.mp4"
                                   << "in.mp4"
                                   << "输入和输出文件名相同,无法转码";
    QTest::newRow("symbolic link") << dir + "/link.mp4" << dir + "/in.mp4"
                                   << "输入和输出文件名相同,无法转码";
}

void TestWorkbenchPage::refusals_show_their_message_and_leave_the_disk_alone() {
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(QString, message);
    QVERIFY(TestTools::WriteFile(Path("in.mp4"), "the input's own bytes"));
    QVERIFY(TestTools::WriteFile(Path("out.mp4"), "an older output"));
    QVERIFY(TestTools::WriteFile(Path("out"), "a file without extension"));
    QFile::link(Path("in.mp4"), Path("link.mp4"));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    const auto before = Snapshot(m_dir.path());

    SetNames(input, output);
    QTest::mouseClick(Control<QPushButton>("btnFRecode"), Qt::LeftButton);
    QDir::setCurrent(previous);

    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.first().text, message);
    QCOMPARE(m_messages.boxes.first().caption, QStringLiteral("Korvi"));
    QCOMPARE(Snapshot(m_dir.path()), before);
    QVERIFY(RunWindows().isEmpty());
}

void TestWorkbenchPage::runs_produce_media_in_a_run_window_that_closes_data() {
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("video");
    QTest::newRow("原码") << "N1"
                          << "clip.mp4" << true;
    QTest::newRow("MP3 128Kbps") << "N128Kbps1"
                                 << "clip.mp3" << false;
}

void TestWorkbenchPage::runs_produce_media_in_a_run_window_that_closes() {
    QFETCH(QString, preset);
    QFETCH(QString, output);
    QFETCH(bool, video);
    Control<QLineEdit>("edtFFInFile")->setText(m_media);
    auto *item = m_page->PresetsMenu()->findChild<QAction *>(preset);
    QVERIFY(item);
    item->trigger();
    QCOMPARE(Control<QLineEdit>("edtFFOutFile")->text(), Path(output));
    // A stale output from an earlier run is replaced, not appended to or kept.
    QVERIFY(TestTools::WriteFile(Path(output), "stale"));

    QTest::mouseClick(Control<QPushButton>("btnFRecode"), Qt::LeftButton);
    QVERIFY(m_messages.boxes.isEmpty());
    const QList<RunWindow *> windows = RunWindows();
    QCOMPARE(windows.size(), 1);
    QVERIFY(windows.first()->isMinimized());
    QVERIFY(windows.first()->windowTitle().startsWith(output));
    QTRY_VERIFY_WITH_TIMEOUT(RunWindows().isEmpty(), 90000);

    QVERIFY(MediaProbe::Duration(Path(output)) > 1.5);
    QCOMPARE(MediaProbe::HasVideo(Path(output)), video);
    QVERIFY(MediaProbe::HasAudio(Path(output)));
}

void TestWorkbenchPage::failing_run_keeps_its_window_with_the_exit_status() {
    QVERIFY(TestTools::WriteFile(Path("broken.mp4"), "not a media file at all"));
    Control<QLineEdit>("edtFFInFile")->setText(Path("broken.mp4"));
    QTest::mouseClick(Control<QPushButton>("btnFRecode"), Qt::LeftButton);
    QCOMPARE(RunWindows().size(), 1);
    QPointer<RunWindow> window = RunWindows().first();
    QTRY_VERIFY_WITH_TIMEOUT(window && window->Failed(), 60000);
    QTest::qWait(200);
    QVERIFY(window);
    QVERIFY2(window->windowTitle().contains(QStringLiteral("退出代码")),
             qPrintable(window->windowTitle()));
    // ffmpeg's own reason and the exit status are both there to read.
    QVERIFY(window->ConsoleText().contains(QStringLiteral("broken.mp4")));
    QVERIFY(window->ConsoleText().contains(QStringLiteral("退出代码")));
    QVERIFY(!QFile::exists(Path("broken-new.mp4")));
    window->close();
    QTRY_VERIFY(!window);
}

void TestWorkbenchPage::run_window_title_shows_the_percent_data() {
    QTest::addColumn<bool>("probe");
    QTest::newRow("ffprobe beside ffmpeg") << true;
    QTest::newRow("ffmpeg's own console") << false;
}

void TestWorkbenchPage::run_window_title_shows_the_percent() {
    // A stand-in ffmpeg that reports half of a ten-second input done, then waits to be released;
    // the duration comes from its ffprobe beside it, or else from its console.
    QFETCH(bool, probe);
    QTemporaryDir tools;
    const auto writeTool = [&](const char *name, const QByteArray &script) {
        const QString path = tools.filePath(QString::fromLatin1(name));
        QVERIFY(TestTools::WriteFile(path, script));
        QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    // With ffprobe there, its answer counts over the console's (which says twenty seconds).
    writeTool("ffmpeg", "#!/bin/sh\necho '  Duration: 00:00:" + QByteArray(probe ? "20" : "10") +
                            ".00, start: 0.000000' >&2\n"
                            "echo out_time_us=5000000\necho progress=continue\n"
                            "while [ ! -e release ]; do sleep 0.05; done\nexit 0\n");
    if (probe)
        writeTool("ffprobe", "#!/bin/sh\necho 10.000000\n");
    auto *process = new QProcess;
    process->setProgram(tools.filePath(QStringLiteral("ffmpeg")));
    process->setArguments({"-i", "in.mkv", "-c", "copy", "/somewhere/out.mp4"});
    process->setWorkingDirectory(tools.path());
    QVERIFY(RunWindow::Present(process));
    QPointer<RunWindow> window = RunWindows().first();
    QTRY_COMPARE(window->windowTitle(), QStringLiteral("out.mp4 - 50%"));
    QVERIFY(TestTools::WriteFile(tools.filePath(QStringLiteral("release")), ""));
    QTRY_VERIFY_WITH_TIMEOUT(!window, 30000);
}

void TestWorkbenchPage::relative_output_with_quotes_is_written_beside_the_input() {
    QVERIFY(QFile::copy(m_media, Path("say \"hi\".mkv")));
    // What a broken split would read instead of the quoted names.
    QVERIFY(TestTools::WriteFile(Path("say hi.mkv"), "decoy"));
    QVERIFY(QDir(m_dir.path()).mkpath("elsewhere"));
    QVERIFY(TestTools::WriteFile(Path("elsewhere/say \"hi\".mp4"), "not ffmpeg's to touch"));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(Path("elsewhere"));
    SetNames(Path("say \"hi\".mkv"), QStringLiteral("say \"hi\".mp4"));
    QTest::mouseClick(Control<QPushButton>("btnFRecode"), Qt::LeftButton);
    QDir::setCurrent(previous);
    QVERIFY(m_messages.boxes.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(RunWindows().isEmpty(), 60000);
    QVERIFY(MediaProbe::Duration(Path("say \"hi\".mp4")) > 1.5);
    QCOMPARE(TestTools::ReadFile(Path("elsewhere/say \"hi\".mp4")),
             QByteArray("not ffmpeg's to touch"));
    QVERIFY(!QFile::exists(Path("say hi.mp4")));
}

void TestWorkbenchPage::clicks_on_the_input_alternate_between_clear_and_paste() {
    auto *input = Control<QLineEdit>("edtFFInFile");
    input->setText(Path("a.mp4"));
    QApplication::clipboard()->setText(Path("pasted.mkv"));
    QTest::mouseClick(input, Qt::LeftButton);
    QCOMPARE(input->text(), QString());
    QCOMPARE(Control<QLineEdit>("edtFFOutFile")->text(), QString());
    QTest::mouseClick(input, Qt::LeftButton);
    QCOMPARE(input->text(), Path("pasted.mkv"));
    QCOMPARE(Control<QLineEdit>("edtFFOutFile")->text(), Path("pasted.mp4"));
    // A double-click (press, release, double-click, release) acts once, as its hint says.
    const auto doubleClick = [input] {
        QTest::mouseClick(input, Qt::LeftButton);
        QTest::mouseDClick(input, Qt::LeftButton);
        QTest::mouseRelease(input, Qt::LeftButton);
    };
    doubleClick();
    QCOMPARE(input->text(), QString());
    doubleClick();
    QCOMPARE(input->text(), Path("pasted.mkv"));
    // The parameter editor keeps one line: Enter adds no break.
    auto *codec = Control<QPlainTextEdit>("mmoFFCodec");
    QTest::keyClick(codec, Qt::Key_Return);
    QTest::keyClick(codec, Qt::Key_Enter);
    QCOMPARE(codec->toPlainText(), QStringLiteral("[input] -c copy [output]"));
}

void TestWorkbenchPage::drops_fill_the_input_data() {
    QTest::addColumn<QString>("target");
    QTest::newRow("input field") << "edtFFInFile";
    QTest::newRow("page") << "TabSheet1";
    QTest::newRow("control of the page") << "lblFCodec";
}

void TestWorkbenchPage::drops_fill_the_input() {
    QFETCH(QString, target);
    QWidget *widget =
        target == QLatin1String("TabSheet1") ? m_page : m_page->findChild<QWidget *>(target);
    QVERIFY(widget);
    Control<QLineEdit>("edtFFInFile")->clear();
    QVERIFY(DropOn(widget, {"/media/first.mp4", "/media/second.mkv"}));
    QCOMPARE(Control<QLineEdit>("edtFFInFile")->text(), QStringLiteral("/media/first.mp4"));
    QCOMPARE(Control<QLineEdit>("edtFFOutFile")->text(), QStringLiteral("/media/first-new.mp4"));
}

void TestWorkbenchPage::console_keeps_a_character_split_between_reads() {
    QTemporaryDir tools;
    const QString tool = tools.filePath(QStringLiteral("talker"));
    // "中文" in UTF-8, its first character cut after two of its three bytes.
    QVERIFY(TestTools::WriteFile(tool,
                                 "#!/bin/sh\nprintf '\\344\\270' >&2\nsleep 0.5\n"
                                 "printf '\\255\\346\\226\\207\\n' >&2\nexit 3\n"));
    QFile(tool).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    auto *process = new QProcess;
    process->setProgram(tool);
    QVERIFY(RunWindow::Present(process));
    QPointer<RunWindow> window = RunWindows().first();
    QTRY_VERIFY_WITH_TIMEOUT(window->Failed(), 10000);
    QVERIFY2(window->ConsoleText().startsWith(QStringLiteral("中文")),
             qPrintable(window->ConsoleText()));
    window->close();
    QTRY_VERIFY(!window);
}

// Last: it closes the window.
void TestWorkbenchPage::exit_asks_before_ending_a_run_and_never_waits_for_it() {
    // A stand-in ffmpeg that writes part of its output, then ignores the polite request to end.
    const QString fake = Path("tools/ffmpeg");
    QVERIFY(TestTools::WriteFile(fake,
                                 "#!/bin/sh\ntrap '' TERM\nfor a; do last=$a; done\n"
                                 "echo partial > \"$last\"\n"
                                 "while :; do sleep 0.05; done\n"));
    QFile(fake).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_page->SetFFmpegPath(fake);
    SetNames(m_media, Path("cut.mp4"));
    QTest::mouseClick(Control<QPushButton>("btnFRecode"), Qt::LeftButton);
    QTRY_VERIFY(QFile::exists(Path("cut.mp4")));

    QVERIFY(!m_window->close());
    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.first().kind, QStringLiteral("question"));
    QCOMPARE(RunWindow::RunningWindows().size(), 1);

    m_messages.answerYes = true;
    QVERIFY(m_window->close());
    // The window went without waiting for the tool, which is ended behind it.
    QVERIFY(ProcessesBeingEnded() >= 1);
    QTRY_VERIFY(RunWindows().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(ProcessesBeingEnded(), 0, 10000);
    QVERIFY(!QFile::exists(Path("cut.mp4")));
}

QTEST_MAIN(TestWorkbenchPage)
#include "tst_workbenchpage.moc"
