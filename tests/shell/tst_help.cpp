// The help texts and their viewer: each menu entry opens a read-only, maximisable viewer with
// its caption and its Chinese text, and the import samples describe what the import does.
#include "app/help/HelpTexts.h"
#include "app/help/UnitFormManual.h"
#include "tasks/import/ListImport.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// The names the real imports give the sample lines: the list lines are written to a file of
// the sample's name, the clipboard lines go through the clipboard rule one by one.
QStringList ListImportNames(const QStringList &lines, const QString &listName, bool noPrefix) {
    QTemporaryDir dir;
    const QString path = dir.filePath(listName);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {QStringLiteral("cannot write ") + path};
    file.write(lines.join(QStringLiteral("\r\n")).toUtf8());
    file.close();
    QStringList names;
    for (const ImportedTask &task : ImportM3uList(path, dir.path() + QLatin1Char('/'), noPrefix))
        names << QFileInfo(task.outFile).fileName();
    return names;
}

QStringList ClipboardNames(const QStringList &lines, const QString &prefix) {
    QStringList names;
    for (const QString &line : lines) {
        ImportedTask task;
        if (ClipboardLineTask(line, QLatin1Char('$'), prefix, QStringLiteral("/out/"), task))
            names << QFileInfo(task.outFile).fileName();
    }
    return names;
}

struct Sample {
    QString listFile;  // empty for a clipboard sample
    bool noPrefix = false;
    QString clipboardPrefix;
    QStringList lines;
    QStringList names;
};

QList<Sample> SamplesOf(const QString &text) {
    static const QString ruler(40, '-');
    const QStringList lines = text.split('\n');
    QList<Sample> samples;
    Sample current;
    bool inside = false;
    bool clipboard = false;
    for (QString l : lines) {
        l.remove('\r');
        if (l.startsWith("示例文件：")) {
            current = Sample();
            clipboard = false;
            current.listFile = l.mid(5).section("（", 0, 0);
            current.noPrefix = l.contains("已勾选“不以m3u文件名为前缀”");
        } else if (l.startsWith("前缀：")) {
            current = Sample();
            clipboard = true;
            current.clipboardPrefix = l.mid(3);
        } else if (l == ruler) {
            inside = !inside;
        } else if (inside) {
            current.lines << l;
        } else if (l.startsWith("生成的文件：")) {
            current.names = l.mid(6).split("、");
            if (clipboard) {
                current.listFile.clear();
            }
            samples << current;
        }
    }
    return samples;
}

}  // namespace

class TestHelp : public QObject {
    Q_OBJECT

private slots:
    void three_texts_are_utf8_chinese_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("mustHold");
        QTest::newRow("README") << "README"
                                << "Korvi 使用说明";
        QTest::newRow("LOG") << "LOG"
                             << "Korvi 更新日志";
        QTest::newRow("EXAMPLE") << "EXAMPLE"
                                 << "批量导入任务格式说明";
    }
    void three_texts_are_utf8_chinese() {
        QFETCH(QString, name);
        QFETCH(QString, mustHold);
        const QString text = LoadResText("TXT", name);
        QVERIFY2(text.contains(mustHold), qPrintable(text.left(80)));
        QVERIFY(!text.contains(QChar::ReplacementCharacter));
    }

    void readme_covers_the_linux_program() {
        const QString text = LoadResText("TXT", "README");
        QVERIFY(text.contains("ffmpeg") && text.contains("aria2c"));
        QVERIFY(text.contains("软件包"));
        QVERIFY(text.contains("[input]") && text.contains("[output]"));
        QVERIFY(text.contains("FFMPEG命令") && text.contains("批处理") && text.contains("M3U8"));
        QVERIFY(text.contains("请求头") && text.contains("剪贴板") && text.contains("完整网址"));
        QVERIFY(!text.contains(".exe"));
    }

    void log_newest_version_is_this_one() {
        const QString text = LoadResText("TXT", "LOG");
        static const QRegularExpression version(R"(^v(\d+\.\d+\.\d+)\s*$)",
                                                QRegularExpression::MultilineOption);
        const auto first = version.match(text);
        QVERIFY(first.hasMatch());
        QCOMPARE(first.captured(1), QString(KORVI_VERSION));
    }

    void unknown_resource_gives_empty_text() {
        QVERIFY(LoadResText("TXT", "NOSUCH").isEmpty());
        QVERIFY(LoadResText("WAVE", "README").isEmpty());
        QVERIFY(LoadResText("TXT", "").isEmpty());
    }

    void import_samples_follow_the_import_rules() {
        const QList<Sample> samples = SamplesOf(LoadResText("TXT", "EXAMPLE"));
        // Three list-file styles (one with two variants), mixing, and two clipboard samples.
        QCOMPARE(samples.size(), 7);
        int clipboard = 0;
        for (const Sample &s : samples) {
            QVERIFY(!s.lines.isEmpty());
            QVERIFY(!s.names.isEmpty());
            if (s.listFile.isEmpty()) {
                ++clipboard;
                QCOMPARE(ClipboardNames(s.lines, s.clipboardPrefix), s.names);
            } else {
                QCOMPARE(ListImportNames(s.lines, s.listFile, s.noPrefix), s.names);
            }
        }
        QCOMPARE(clipboard, 2);
    }

    void ascii_text_is_unchanged_and_other_bytes_are_gbk() {
        // Two extra texts that this test carries in its own resources.
        QCOMPARE(LoadResText("TXT", "ASCIITEST"),
                 QString("Plain ASCII help\r\nline two\t[input]\r\n"));
        QCOMPARE(LoadResText("TXT", "GBKTEST"), QString("中文帮助\r\n"));
        TfrmManual viewer;
        viewer.ShowText(LoadResText("TXT", "ASCIITEST"));
        QCOMPARE(viewer.Memo1()->toPlainText(), QString("Plain ASCII help\nline two\t[input]\n"));
    }

    void viewer_is_read_only_and_maximisable() {
        TfrmManual viewer;
        QCOMPARE(viewer.windowTitle(), QString("使用介绍"));
        QCOMPARE(viewer.size(), QSize(759, 513));
        QVERIFY(viewer.windowFlags() & Qt::WindowMaximizeButtonHint);
        QVERIFY(viewer.windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(viewer.windowFlags() & Qt::WindowMinimizeButtonHint));
        auto *memo = viewer.findChild<QPlainTextEdit *>("Memo1");
        QVERIFY(memo);
        QVERIFY(memo->isReadOnly());
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(memo->font().pointSize(), 11);
        viewer.ShowText("第一行\n第二行");
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        // Typing changes nothing; selecting and copying works.
        memo->setFocus();
        QTest::keyClicks(memo, "abc");
        QTest::keyClick(memo, Qt::Key_Backspace);
        QCOMPARE(memo->toPlainText(), QString("第一行\n第二行"));
        memo->selectAll();
        QCOMPARE(memo->textCursor().selectedText(), QString("第一行\u2029第二行"));
        // The memo fills the window and follows it.
        QVERIFY(memo->width() >= viewer.width() - 15);
        viewer.showMaximized();
        QTRY_VERIFY(viewer.isMaximized());
        QTRY_VERIFY(memo->width() >= viewer.width() - 15);
    }

    void menu_entries_open_their_viewer_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("menuCaption");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("mustHold");
        QTest::newRow("T1") << 0 << "T1"
                            << "使用说明(&M)"
                            << "使用说明"
                            << "Korvi 使用说明";
        QTest::newRow("N28") << 1 << "N28"
                             << "更新日志(&U)"
                             << "更新日志"
                             << "Korvi 更新日志";
        QTest::newRow("N29") << 2 << "N29"
                             << "批量导入格式介绍(&B)"
                             << "批量导入任务格式说明"
                             << "剪贴板导入";
    }
    void menu_entries_open_their_viewer() {
        QFETCH(int, index);
        QFETCH(QString, entry);
        QFETCH(QString, menuCaption);
        QFETCH(QString, caption);
        QFETCH(QString, mustHold);
        const HelpTopic topic = HelpTopics().at(index);
        QCOMPARE(topic.entry, entry);
        QCOMPARE(topic.menuCaption, menuCaption);

        QWidget owner;
        owner.resize(821, 556);
        owner.show();
        QString seenCaption, seenText;
        bool seenModal = false;
        bool seenReadOnly = false;
        QTimer::singleShot(0, [&] {
            auto *viewer = qobject_cast<TfrmManual *>(QApplication::activeModalWidget());
            if (!viewer) {
                return;
            }
            seenCaption = viewer->windowTitle();
            seenText = viewer->Memo1()->toPlainText();
            seenModal = viewer->isModal();
            seenReadOnly = viewer->Memo1()->isReadOnly();
            viewer->close();
        });
        ShowHelpTopic(&owner, topic);
        QCOMPARE(seenCaption, caption);
        QVERIFY(seenModal);
        QVERIFY(seenReadOnly);
        QVERIFY(seenText.contains(mustHold));
        // Freed when it closed.
        QVERIFY(!owner.findChild<TfrmManual *>());
    }
};

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
