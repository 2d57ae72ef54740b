// The batch page in the window, by object names: the list's buttons, menu, keys, header and
// drops; real ffmpeg joins and batch transcodes of clips made here; a stand-in ffmpeg for a run
// that fails after writing part of its output.
#include "../app/RecordingMessages.h"
#include "MediaProbe.h"
#include "TestTools.h"
#include "app/UnitFormMain.h"
#include "app/config/Settings.h"
#include "app/notify/Notices.h"
#include "batch/BatchPage.h"
#include "support/gui/FileDialogs.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

#include <memory>

#include <unistd.h>

namespace {

class ScriptedDialogs : public FileDialogs {
public:
    QString AskOpen(QWidget *, const FileDialogRequest &) override { return QString(); }
    QString AskSave(QWidget *, const FileDialogRequest &request) override {
        lastSave = request;
        return saveAnswer;
    }
    QStringList AskOpenFiles(QWidget *, const FileDialogRequest &request) override {
        lastOpen = request;
        return openAnswers.isEmpty() ? QStringList() : openAnswers.takeFirst();
    }
    QList<QStringList> openAnswers;
    QString saveAnswer;
    FileDialogRequest lastOpen, lastSave;
};

class RecordingSink : public NoticeSink {
public:
    void ShowBalloon(const QString &title, const QString &text, int timeoutMs) override {
        balloons << QStringLiteral("%1|%2|%3").arg(title, text).arg(timeoutMs);
    }
    void PlaySound(const QString &, const QString &name) override { sounds << name; }
    QStringList balloons, sounds;
};

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

bool MakeClip(const QString &path, const char *format = nullptr) {
    QStringList args{"-v",
                     "error",
                     "-y",
                     "-f",
                     "lavfi",
                     "-i",
                     "testsrc=duration=1:size=160x120:rate=10",
                     "-f",
                     "lavfi",
                     "-i",
                     "sine=duration=1",
                     "-c:v",
                     "mpeg4",
                     "-c:a",
                     "aac",
                     "-shortest"};
    if (format)
        args << "-f" << format;
    return TestTools::RunTool(QStringLiteral("ffmpeg"), args << path);
}

}  // namespace

class TestBatchPage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void list_buttons_menu_keys_and_header_keep_the_numbers();
    void drops_append_every_path_data();
    void drops_append_every_path();
    void join_of_three_clips_gives_their_sum_and_empties_the_list();
    void join_reads_a_path_with_an_apostrophe();
    void failed_join_keeps_the_list_and_removes_its_partial_output();
    void join_into_one_of_its_inputs_is_refused_data();
    void join_into_one_of_its_inputs_is_refused();
    void batch_counts_real_successes_and_leaves_a_stale_output_uncounted();
    void stop_during_the_second_of_five_then_a_new_batch();
    void batch_output_never_replaces_a_file_of_its_list();
    void batch_goes_on_past_a_file_ffmpeg_cannot_start_for();
    void join_whose_ffmpeg_cannot_start_reports_the_failure();
    void second_file_of_one_output_name_is_not_run();
    void empty_parameters_are_refused();

private:
    template <typename T>
    T *Control(const char *name) {
        T *child = m_page->findChild<T *>(QString::fromLatin1(name));
        if (!child)
            qWarning("no control %s", name);
        return child;
    }
    QString Path(const QString &name) const { return m_dir.filePath(name); }
    QStringList Rows() const {
        QStringList rows;
        for (int row = 0; row < m_page->Model()->rowCount(); ++row)
            rows << m_page->Model()->index(row, 0).data().toString() + QLatin1Char(' ') +
                        m_page->Model()->index(row, 1).data().toString();
        return rows;
    }
    void SetRows(const QStringList &paths) {
        Control<QToolButton>("btnBLvwClear")->click();
        m_dialogs.openAnswers = {paths};
        Control<QToolButton>("btnBLvwAdd")->click();
    }
    QStringList TempLists() const {
        return QDir(m_tempDir).entryList({QStringLiteral("*.txt")}, QDir::Files);
    }

    QTemporaryDir m_dir;
    QString m_tempDir;
    RecordingMessages m_messages;
    ScriptedDialogs m_dialogs;
    RecordingSink m_sink;
    std::unique_ptr<TfrmMain> m_window;
    BatchPage *m_page = nullptr;
    QString m_ffmpeg;
    QStringList m_status[3];
    std::function<void(int, const QString &)> m_onStatus;
};

void TestBatchPage::initTestCase() {
    QVERIFY(m_dir.isValid());
    TestTools::IsolateEnvironment(Path("env"));
    // The concat lists go to the user's private folder inside the temporary folder.
    m_tempDir = Path("env/tmp/korvi-" + QString::number(getuid()));
    for (const char *name : {"one.mp4", "two.mp4", "three.mp4"})
        QVERIFY(MakeClip(Path(name)));
    QVERIFY(MakeClip(Path("clip.ts"), "mpegts"));
    MainWindowSeams seams;
    seams.iniPath = FreshIniPath();
    seams.messages = &m_messages;
    seams.isWin64 = [] { return true; };
    m_window = std::make_unique<TfrmMain>(seams);
    m_page = m_window->findChild<BatchPage *>(QStringLiteral("TabSheet2"));
    QVERIFY(m_page);
    QCOMPARE(m_window->AppTempDir, m_tempDir);
    m_ffmpeg = m_window->FFmpegPath;
    QVERIFY(QFileInfo(m_ffmpeg).isExecutable());
    m_page->SetFileDialogs(&m_dialogs);
    BatchWindowServices services;
    services.setStatusText = [this](int panel, const QString &text) {
        if (panel >= 0 && panel < 3)
            m_status[panel] << text;
        if (m_onStatus)
            m_onStatus(panel, text);
    };
    m_page->SetWindowServices(services);
    SetNoticeSink(&m_sink);
}

void TestBatchPage::cleanupTestCase() {
    SetNoticeSink(nullptr);
    m_window.reset();
}

void TestBatchPage::init() {
    m_messages.boxes.clear();
    m_sink.balloons.clear();
    m_sink.sounds.clear();
    for (QStringList &panel : m_status)
        panel.clear();
    m_onStatus = nullptr;
    BalloonHint = false;
    SoundTips = true;
    m_page->SetFFmpegPath(m_ffmpeg);
    Control<QLineEdit>("edtBCodec")->setText(QStringLiteral("-vcodec h264 -acodec aac"));
}

void TestBatchPage::list_buttons_menu_keys_and_header_keep_the_numbers() {
    auto *codecs = Control<QComboBox>("cboBCodec");
    QCOMPARE(codecs->count(), 8);
    QCOMPARE(codecs->currentIndex(), -1);
    QCOMPARE(Control<QLineEdit>("edtBCodec")->text(), QStringLiteral("-vcodec h264 -acodec aac"));
    QCOMPARE(Control<QPushButton>("btnBRecodec")->text(), QStringLiteral("批量转码"));
    emit codecs->activated(2);
    QCOMPARE(Control<QLineEdit>("edtBCodec")->text(),
             QStringLiteral("-vcodec h264 -b:v 10M -acodec aac -b:a 128K"));

    // Two added, then three more through the menu item: numbering continues from the count.
    m_dialogs.openAnswers = {{"/v/b.ts", "/v/D.ts"}, {"/v/a.ts", "/v/c.ts", "/v/e.ts"}};
    Control<QToolButton>("btnBLvwAdd")->click();
    m_page->ListMenu()->findChild<QAction *>(QStringLiteral("N18"))->trigger();
    QVERIFY(m_dialogs.lastOpen.mustExist);
    QVERIFY(m_dialogs.lastOpen.filter.startsWith(QStringLiteral("ts视频片段(*.ts) (*.ts);;")));
    QCOMPARE(Rows(),
             QStringList({"1 /v/b.ts", "2 /v/D.ts", "3 /v/a.ts", "4 /v/c.ts", "5 /v/e.ts"}));

    auto *list = Control<QTableView>("lvwBList");
    list->selectRow(1);
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(Rows(), QStringList({"1 /v/b.ts", "2 /v/a.ts", "3 /v/c.ts", "4 /v/e.ts"}));

    list->selectRow(0);
    m_page->ListMenu()->findChild<QAction *>(QStringLiteral("N22"))->trigger();
    QCOMPARE(Rows(), QStringList({"1 /v/a.ts", "2 /v/b.ts", "3 /v/c.ts", "4 /v/e.ts"}));
    QCOMPARE(list->currentIndex().row(), 1);
    Control<QToolButton>("btnBLvwUp")->click();
    QCOMPARE(Rows(), QStringList({"1 /v/b.ts", "2 /v/a.ts", "3 /v/c.ts", "4 /v/e.ts"}));

    // Header clicks toggle the direction whatever column was clicked before; no renumbering.
    QHeaderView *header = list->horizontalHeader();
    emit header->sectionClicked(1);
    QCOMPARE(Rows(), QStringList({"4 /v/e.ts", "3 /v/c.ts", "1 /v/b.ts", "2 /v/a.ts"}));
    emit header->sectionClicked(1);
    QCOMPARE(Rows(), QStringList({"2 /v/a.ts", "1 /v/b.ts", "3 /v/c.ts", "4 /v/e.ts"}));
    emit header->sectionClicked(0);
    QVERIFY(m_page->SortDescending);
    QCOMPARE(m_page->SortColumn, 0);
    QCOMPARE(Rows(), QStringList({"4 /v/e.ts", "3 /v/c.ts", "2 /v/a.ts", "1 /v/b.ts"}));

    m_page->ListMenu()->findChild<QAction *>(QStringLiteral("N19"))->trigger();
    QVERIFY(Rows().isEmpty());
    emit header->sectionClicked(1);
    QVERIFY(m_page->SortDescending);  // an empty list ignores header clicks
}

void TestBatchPage::drops_append_every_path_data() {
    QTest::addColumn<QString>("target");
    QTest::newRow("list") << "lvwBList";
    QTest::newRow("page") << "TabSheet2";
    QTest::newRow("control of the page") << "lblBcodec";
}

void TestBatchPage::drops_append_every_path() {
    QFETCH(QString, target);
    QWidget *widget =
        target == QLatin1String("TabSheet2") ? m_page : m_page->findChild<QWidget *>(target);
    QVERIFY(widget);
    if (auto *view = qobject_cast<QTableView *>(widget))
        widget = view->viewport();
    SetRows({"/v/first.ts"});
    QVERIFY(DropOn(widget, {"/media/a.mp4", "/media/folder"}));
    QCOMPARE(Rows(), QStringList({"1 /v/first.ts", "2 /media/a.mp4", "3 /media/folder"}));
}

void TestBatchPage::join_of_three_clips_gives_their_sum_and_empties_the_list() {
    BalloonHint = true;
    Control<QLineEdit>("edtBCodec")->setText(QStringLiteral("-c copy"));
    SetRows({Path("one.mp4"), Path("two.mp4"), Path("three.mp4")});
    const QString out = Path("joined.mp4");
    m_dialogs.saveAnswer = out;
    QVERIFY(TestTools::WriteFile(out, "an older file of that name"));

    QTest::mouseClick(Control<QPushButton>("btnBJoin"), Qt::LeftButton);

    QVERIFY(m_dialogs.lastSave.confirmOverwrite);
    QCOMPARE(m_dialogs.lastSave.defaultSuffix, QStringLiteral("mp4"));
    QVERIFY(Rows().isEmpty());
    const double sum = MediaProbe::Duration(Path("one.mp4")) +
                       MediaProbe::Duration(Path("two.mp4")) +
                       MediaProbe::Duration(Path("three.mp4"));
    QVERIFY(sum > 2.5);
    QVERIFY2(qAbs(MediaProbe::Duration(out) - sum) < 0.2,
             qPrintable(QString::number(MediaProbe::Duration(out))));
    QVERIFY(MediaProbe::HasVideo(out) && MediaProbe::HasAudio(out));
    QCOMPARE(m_sink.balloons, QStringList{"视频合并完成|" + out + "|5000"});
    QCOMPARE(m_sink.sounds, QStringList{"DONE"});
    QVERIFY(m_messages.boxes.isEmpty());
    QVERIFY(m_status[1].contains(QStringLiteral("合并 3 个文件...")));
    QCOMPARE(m_status[1].last(), QString());
    QVERIFY2(TempLists().isEmpty(), qPrintable(TempLists().join(' ')));
}

void TestBatchPage::join_reads_a_path_with_an_apostrophe() {
    Control<QLineEdit>("edtBCodec")->setText(QStringLiteral("-c copy"));
    QVERIFY(QFile::copy(Path("one.mp4"), Path("it's one.mp4")));
    SetRows({Path("it's one.mp4"), Path("two.mp4")});
    const QString out = Path("apostrophe.mp4");
    m_dialogs.saveAnswer = out;
    QTest::mouseClick(Control<QPushButton>("btnBJoin"), Qt::LeftButton);
    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.first().text, "合并成功:\n" + out);
    QCOMPARE(m_messages.boxes.first().caption, QStringLiteral("Korvi"));
    QVERIFY(Rows().isEmpty());
    QVERIFY(MediaProbe::Duration(out) > 1.7);
}

void TestBatchPage::failed_join_keeps_the_list_and_removes_its_partial_output() {
    // Writes part of its output, then fails, as ffmpeg does when an input breaks off midway.
    const QString fake = Path("tools/ffmpeg");
    QVERIFY(TestTools::WriteFile(
        fake, "#!/bin/sh\nfor a in \"$@\"; do last=$a; done\necho partial > \"$last\"\nexit 1\n"));
    QFile(fake).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_page->SetFFmpegPath(fake);
    SetRows({Path("one.mp4"), Path("two.mp4")});
    const QStringList before = Rows();
    const QString out = Path("failed.mp4");
    m_dialogs.saveAnswer = out;
    QTest::mouseClick(Control<QPushButton>("btnBJoin"), Qt::LeftButton);
    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.first().text, QStringLiteral("文件合并失败!"));
    QCOMPARE(Rows(), before);
    QVERIFY(!QFile::exists(out));
    QCOMPARE(m_sink.sounds, QStringList{"DONE"});

    BalloonHint = true;
    QTest::mouseClick(Control<QPushButton>("btnBJoin"), Qt::LeftButton);
    QCOMPARE(m_sink.balloons, QStringList{"文件合并失败!|" + out + "|5000"});
    QCOMPARE(Rows(), before);
    QVERIFY(TempLists().isEmpty());
    // The batch removes a failed file's partial output as well, and counts it as failed.
    BalloonHint = false;
    m_messages.boxes.clear();
    SetRows({Path("clip.ts")});
    QFile::remove(Path("clip.mp4"));
    QTest::mouseClick(Control<QPushButton>("btnBRecodec"), Qt::LeftButton);
    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.first().text,
             QStringLiteral("所有转码任务完成\n成功 0 个\n失败 1 个"));
    QVERIFY(!QFile::exists(Path("clip.mp4")));
}

void TestBatchPage::join_into_one_of_its_inputs_is_refused_data() {
    QTest::addColumn<QString>("output");
    QTest::newRow("the input's own path") << "two.mp4";
    QTest::newRow("a link to the input") << "alias.mp4";
}

// The join deletes an older output first: were it an input, that input would be gone.
void TestBatchPage::join_into_one_of_its_inputs_is_refused() {
    QFETCH(QString, output);
    Control<QLineEdit>("edtBCodec")->setText(QStringLiteral("-c copy"));
    SetRows({Path("one.mp4"), Path("two.mp4")});
    const QStringList before = Rows();
    const QByteArray two = TestTools::ReadFile(Path("two.mp4"));
    QFile::remove(Path("alias.mp4"));
    QVERIFY(QFile::link(Path("two.mp4"), Path("alias.mp4")));
    m_dialogs.saveAnswer = Path(output);
    QTest::mouseClick(Control<QPushButton>("btnBJoin"), Qt::LeftButton);
    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.first().text,
             QStringLiteral("输出文件不能是列表中要合并的文件:\n") + Path(output));
    QCOMPARE(TestTools::ReadFile(Path("two.mp4")), two);
    QCOMPARE(Rows(), before);
    QVERIFY(m_sink.sounds.isEmpty());
    QFile::remove(Path("alias.mp4"));
}

void TestBatchPage::batch_counts_real_successes_and_leaves_a_stale_output_uncounted() {
    BalloonHint = true;
    QVERIFY(QFile::copy(Path("one.mp4"), Path("batch.mp4")));
    QVERIFY(TestTools::WriteFile(Path("junk.mkv"), "not a media file"));
    // An output left by an earlier run must not pass for this run's result.
    QVERIFY(TestTools::WriteFile(Path("junk.mp4"), "stale output of an earlier run"));
    SetRows({Path("clip.ts"), Path("batch.mp4"), Path("junk.mkv")});
    QFile::remove(Path("clip.mp4"));

    QTest::mouseClick(Control<QPushButton>("btnBRecodec"), Qt::LeftButton);

    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.first().text,
             QStringLiteral("所有转码任务完成\n成功 2 个\n失败 1 个"));
    QVERIFY(Rows().isEmpty());
    QCOMPARE(Control<QPushButton>("btnBRecodec")->text(), QStringLiteral("批量转码"));
    for (const char *name : {"clip.mp4", "batch-new.mp4"}) {
        QVERIFY2(MediaProbe::HasVideo(Path(name)), name);
        QVERIFY(MediaProbe::Duration(Path(name)) > 0.8);
    }
    QCOMPARE(TestTools::ReadFile(Path("junk.mp4")), QByteArray("stale output of an earlier run"));
    QCOMPARE(m_status[1].first(), QStringLiteral("转码 clip.ts"));
    QCOMPARE(m_status[2].first(), QStringLiteral("16%"));
    QVERIFY(m_status[2].contains(QStringLiteral("50%")));  // (1 + 0.5) * 100 / 3
    QVERIFY(!m_status[2].filter(QStringLiteral("(当前文件 ")).isEmpty());
    QCOMPARE(m_status[1].last(), QString());
    QCOMPARE(m_status[2].last(), QString());
    QCOMPARE(m_sink.balloons.size(), 4);
    QCOMPARE(m_sink.balloons.at(0), "转码完成|" + Path("clip.mp4") + "|1000");
    QCOMPARE(m_sink.balloons.at(2), "转码失败|" + Path("junk.mkv") + "|1000");
    QCOMPARE(m_sink.balloons.at(3), QStringLiteral("所有转码任务完成|成功 2 个\n失败 1 个|1000"));
    QCOMPARE(m_sink.sounds, QStringList{"DONE"});
}

void TestBatchPage::stop_during_the_second_of_five_then_a_new_batch() {
    Control<QLineEdit>("edtBCodec")->setText(QStringLiteral("-c copy"));
    QStringList inputs;
    for (int i = 1; i <= 5; ++i) {
        const QString name = Path(QStringLiteral("five%1.mkv").arg(i));
        QFile::remove(name);
        QVERIFY(QFile::copy(Path("one.mp4"), name));
        inputs << name;
    }
    SetRows(inputs);
    auto *button = Control<QPushButton>("btnBRecodec");
    m_onStatus = [button](int panel, const QString &text) {
        if (panel == 1 && text == QStringLiteral("转码 five2.mkv"))
            QTimer::singleShot(0, button, [button] {
                QCOMPARE(button->text(), QStringLiteral("停止转码"));
                button->click();
            });
    };
    QTest::mouseClick(button, Qt::LeftButton);
    m_onStatus = nullptr;

    QVERIFY(m_messages.boxes.isEmpty());
    QCOMPARE(button->text(), QStringLiteral("批量转码"));
    QCOMPARE(Rows(), QStringList({"3 " + inputs[2], "4 " + inputs[3], "5 " + inputs[4]}));
    QVERIFY(MediaProbe::HasVideo(Path("five2.mp4")));  // the current file was finished
    QVERIFY(!QFile::exists(Path("five3.mp4")));
    QCOMPARE(m_status[1].last(), QString());
    QVERIFY(m_sink.sounds.isEmpty());

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.first().text,
             QStringLiteral("所有转码任务完成\n成功 3 个\n失败 0 个"));
    QVERIFY(Rows().isEmpty());
}

void TestBatchPage::batch_output_never_replaces_a_file_of_its_list() {
    // pair.ts would become pair.mp4, the list's next file.
    QVERIFY(QFile::copy(Path("clip.ts"), Path("pair.ts")));
    QVERIFY(QFile::copy(Path("one.mp4"), Path("pair.mp4")));
    const QByteArray original = TestTools::ReadFile(Path("pair.mp4"));
    SetRows({Path("pair.ts"), Path("pair.mp4")});
    QTest::mouseClick(Control<QPushButton>("btnBRecodec"), Qt::LeftButton);
    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.first().text,
             QStringLiteral("所有转码任务完成\n成功 1 个\n失败 1 个"));
    QCOMPARE(TestTools::ReadFile(Path("pair.mp4")), original);
    QVERIFY(MediaProbe::HasVideo(Path("pair-new.mp4")));
}

void TestBatchPage::batch_goes_on_past_a_file_ffmpeg_cannot_start_for() {
    BalloonHint = true;
    Control<QLineEdit>("edtBCodec")->setText(QStringLiteral("-c copy"));
    QFile::remove(Path("clip.mp4"));
    // The first file's folder has gone, so ffmpeg cannot be started in it.
    SetRows({Path("gone/away.ts"), Path("clip.ts")});
    QTest::mouseClick(Control<QPushButton>("btnBRecodec"), Qt::LeftButton);
    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.first().text,
             QStringLiteral("所有转码任务完成\n成功 1 个\n失败 1 个"));
    QCOMPARE(Control<QPushButton>("btnBRecodec")->text(), QStringLiteral("批量转码"));
    QVERIFY(MediaProbe::HasVideo(Path("clip.mp4")));
    QCOMPARE(m_sink.balloons.at(0), "转码失败|" + Path("gone/away.ts") + "|1000");
    QCOMPARE(m_status[1].last(), QString());
}

void TestBatchPage::join_whose_ffmpeg_cannot_start_reports_the_failure() {
    m_page->SetFFmpegPath(Path("tools/no-such-ffmpeg"));
    SetRows({Path("one.mp4"), Path("two.mp4")});
    const QStringList before = Rows();
    m_dialogs.saveAnswer = Path("unstarted.mp4");
    QTest::mouseClick(Control<QPushButton>("btnBJoin"), Qt::LeftButton);
    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.first().text, QStringLiteral("文件合并失败!"));
    QCOMPARE(m_sink.sounds, QStringList{"DONE"});
    QCOMPARE(m_status[1].last(), QString());
    QCOMPARE(Rows(), before);
}

void TestBatchPage::second_file_of_one_output_name_is_not_run() {
    QVERIFY(TestTools::RunTool(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-f", "lavfi", "-i",
                                                          "testsrc=duration=1:size=320x240:rate=10",
                                                          "-c:v", "mpeg4", Path("twin.mkv")}));
    QVERIFY(QFile::copy(Path("clip.ts"), Path("twin.ts")));
    QFile::remove(Path("twin.mp4"));
    Control<QLineEdit>("edtBCodec")->setText(QStringLiteral("-c copy"));
    SetRows({Path("twin.mkv"), Path("twin.ts")});
    QTest::mouseClick(Control<QPushButton>("btnBRecodec"), Qt::LeftButton);
    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.first().text,
             QStringLiteral("所有转码任务完成\n成功 1 个\n失败 1 个"));
    QCOMPARE(MediaProbe::VideoSize(Path("twin.mp4")), QSize(320, 240));
}

void TestBatchPage::empty_parameters_are_refused() {
    SetRows({Path("clip.ts")});
    Control<QLineEdit>("edtBCodec")->clear();
    QTest::mouseClick(Control<QPushButton>("btnBRecodec"), Qt::LeftButton);
    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.first().text, QStringLiteral("编码参数未设置!"));
    QCOMPARE(Rows(), QStringList{"1 " + Path("clip.ts")});
    QCOMPARE(Control<QPushButton>("btnBRecodec")->text(), QStringLiteral("批量转码"));
}

QTEST_MAIN(TestBatchPage)
#include "tst_batchpage.moc"
