// The help texts and their viewer: each menu entry opens a read-only, maximisable viewer with
// its caption and its Chinese text, and the import samples describe what the import does.
#include "app/help/HelpTexts.h"
#include "app/help/UnitFormManual.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

namespace {

// The naming rules of the list-file import, written out once more from their description so
// the samples in the help text can be checked against them.
bool LooksLikeUrl(const QString &line) {
    const QString l = line.toLower();
    return l.size() >= 6 && (l.contains("https://") || l.contains("http://") ||
                             l.contains("ftp://") || l.contains("ftps://"));
}

QStringList ListImportNames(QStringList lines, const QString &prefix) {
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const QString &l) { return l.trimmed().isEmpty(); }),
                lines.end());
    const int width = qMax(2, int(QString::number(lines.size()).size()));
    QStringList names;
    int n = 0;
    for (int i = 0; i < lines.size(); ++i) {
        lines[i] = lines[i].trimmed();
        if (!LooksLikeUrl(lines[i])) {
            continue;
        }
        const QString p = i > 0 ? lines[i - 1] : QString();
        QString name;
        if (i > 0 && !LooksLikeUrl(p) && p.startsWith("#EXTINF:") && !p.endsWith(",") &&
            p.contains(", ")) {
            name = prefix + p.mid(p.indexOf(", ") + 2);
            ++n;
        } else if (i > 0 && !LooksLikeUrl(p) && !p.startsWith("#EXTINF:") && !p.isEmpty()) {
            name = p.startsWith(prefix) ? p : prefix + p;
            ++n;
        } else {
            ++n;
            name = prefix + QString::number(n).rightJustified(width, '0');
        }
        names << name + ".mp4";
    }
    return names;
}

// The clipboard rule for the lines of the samples: a quoted or unquoted name, "$", an address.
QStringList ClipboardNames(const QStringList &lines, const QString &prefix) {
    static const QRegularExpression line(R"re(^\s*(?:"([^"]*)"|([^\s$"]*))\s*\$\s*(\S+)\s*$)re");
    QStringList names;
    for (const QString &l : lines) {
        const auto m = line.match(l);
        if (m.hasMatch() && LooksLikeUrl(m.captured(3))) {
            const QString name = m.capturedStart(1) >= 0 ? m.captured(1) : m.captured(2);
            names << prefix + name + ".mp4";
        }
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
                const QString prefix =
                    s.noPrefix ? QString() : s.listFile.left(s.listFile.lastIndexOf('.'));
                QCOMPARE(ListImportNames(s.lines, prefix), s.names);
            }
        }
        QCOMPARE(clipboard, 2);
    }

    void rule_reference_matches_the_documented_cases() {
        // Guards the check above: the cases the import's own description names.
        QCOMPARE(ListImportNames({"http://a/1", "http://a/2", "http://a/3"}, "P"),
                 (QStringList{"P01.mp4", "P02.mp4", "P03.mp4"}));
        QCOMPARE(ListImportNames({"t1", "http://a/1", "t2", "http://a/2", "http://a/3"}, ""),
                 (QStringList{"t1.mp4", "t2.mp4", "03.mp4"}));
        QStringList many;
        for (int i = 0; i < 120; ++i) {
            many << "http://a/" + QString::number(i);
        }
        QCOMPARE(ListImportNames(many, "").first(), QString("001.mp4"));
        QCOMPARE(ClipboardNames({"第01集$", "http://a/1"}, ""), QStringList{});
        QCOMPARE(ClipboardNames({"a b$http://a/1"}, ""), QStringList{});
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
