// The batch imports on the M3U8 page, offscreen: the list import command and its menu twins, the
// clipboard dialog and file drops on the page's three drop targets, with fake download objects
// behind the queue.

#include "FakeTask.h"

#include "batch/DropRouter.h"
#include "support/gui/GuiUtils.h"
#include "tasks/page/M3u8Page.h"
#include "tasks/queue/TaskListModel.h"
#include "tasks/queue/TaskScheduler.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QtTest>

namespace {

using C = TaskListModel;

// The folder the folder chooser answers with; empty means cancel.
QString g_folder;
QStringList g_folderTitles;
QString AnswerFolder(QWidget *, const QString &title) {
    g_folderTitles << title;
    return g_folder;
}

struct ImportRig {
    FakeTaskPool pool;
    QString openAnswer;
    QStringList openCalls;
    QStringList notices;
    M3u8Page page;
    QTemporaryDir dir;

    ImportRig() {
        page.SetTaskFactory(pool.Factory());
        M3u8PageDialogs dialogs;
        dialogs.openFile = [this](QWidget *, const QString &filter, const QString &suffix) {
            openCalls << filter + QLatin1Char('|') + suffix;
            return openAnswer;
        };
        dialogs.showNotice = [this](QWidget *owner, const QString &caption, const QString &text) {
            notices << QStringLiteral("%1|%2|%3").arg(owner->objectName(), caption, text);
        };
        page.SetDialogs(dialogs);
        SetFolderChooser(AnswerFolder);
        g_folder = dir.path() + QLatin1Char('/');
        g_folderTitles.clear();
        page.resize(800, 450);
        page.show();
    }
    ~ImportRig() { SetFolderChooser(nullptr); }
    template <typename T>
    T *find(const char *name) const {
        return page.findChild<T *>(QLatin1String(name));
    }
    QTableView *list() const { return find<QTableView>("lvwMList"); }
    QStringList column(int column) const {
        QStringList cells;
        for (int row = 0; row < page.Model()->Count(); ++row)
            cells << page.Model()->Field(row, C::Column(column));
        return cells;
    }
    QString writeList(const QString &name, const QByteArray &text) {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(text);
        return file.fileName();
    }
};

void SendDrop(QWidget *widget, const QStringList &paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    mime.setUrls(urls);
    // Enter first, as the desktop does.
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
}

}  // namespace

class TestBatchImport : public QObject {
    Q_OBJECT
private slots:
    void list_import_adds_named_tasks_without_headers();
    void list_import_commands_share_one_road();
    void clipboard_dialog_imports_into_the_chosen_folder();
    void clipboard_dialog_double_clicks_clear_and_paste();
    void drops_on_the_three_targets();
};

void TestBatchImport::list_import_adds_named_tasks_without_headers() {
    ImportRig rig;
    rig.openAnswer = rig.writeList("西游记.m3u8", "#EXTINF:-1, 第01集\nhttp://h/1\nhttp://h/2\n");
    QTest::mouseClick(rig.find<QToolButton>("btnMLvwList"), Qt::LeftButton);
    QCOMPARE(rig.openCalls.size(), 1);
    QVERIFY(rig.openCalls.first().startsWith("m3u列表文件(m3u) (*.m3u *.txt);;"));
    QCOMPARE(g_folderTitles, QStringList{"选择保存位置"});
    QCOMPARE(rig.column(C::ColUrl), (QStringList{"http://h/1", "http://h/2"}));
    QCOMPARE(rig.column(C::ColFile),
             (QStringList{rig.dir.filePath("西游记第01集.mp4"), rig.dir.filePath("西游记02.mp4")}));
    QCOMPARE(rig.column(C::ColHeaders), (QStringList{"", ""}));
    QCOMPARE(rig.column(C::ColNumber), (QStringList{"1", "2"}));

    // A cancelled folder choice or file choice adds nothing.
    g_folder.clear();
    QTest::mouseClick(rig.find<QToolButton>("btnMLvwList"), Qt::LeftButton);
    rig.openAnswer.clear();
    g_folder = rig.dir.path() + "/";
    QTest::mouseClick(rig.find<QToolButton>("btnMLvwList"), Qt::LeftButton);
    QCOMPARE(rig.page.Model()->Count(), 2);
    QCOMPARE(g_folderTitles.size(), 2);
}

void TestBatchImport::list_import_commands_share_one_road() {
    ImportRig rig;
    rig.openAnswer = rig.writeList("L.txt", "http://h/1\n");
    rig.page.ImportListAction()->trigger();
    QCOMPARE(rig.page.ImportListAction()->text(), QStringLiteral("批量导入m3u8"));
    QMenu *menu = rig.page.ListMenu();
    const QList<QAction *> entries = menu->actions();
    QVERIFY(entries.size() >= 2);
    QCOMPARE(entries.at(0)->objectName(), QStringLiteral("ZYPlayer1"));
    QCOMPARE(entries.at(1)->objectName(), QStringLiteral("N26"));
    entries.at(0)->trigger();
    // The same list imported twice into one folder: the second row must not write the first's file.
    QCOMPARE(rig.column(C::ColFile),
             (QStringList{rig.dir.filePath("L01.mp4"), rig.dir.filePath("L01 (2).mp4")}));
}

void TestBatchImport::clipboard_dialog_imports_into_the_chosen_folder() {
    ImportRig rig;
    QGuiApplication::clipboard()->setText(
        "第01集$http://h/1\r\n\"第02集 大结局\"$http://h/2\r\n第03集$\r\nhttp://h/3\r\n|x");
    QString memoText;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QCOMPARE(dialog->objectName(), QStringLiteral("TfrmClipboard"));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("剪贴板导入"));
        QVERIFY(!dialog->windowIcon().isNull());
        memoText = dialog->findChild<QPlainTextEdit *>("Memo1")->toPlainText();
        dialog->findChild<QLineEdit *>("edtPreName")->setText("西游记");
        QTest::mouseClick(dialog->findChild<QPushButton *>("btnImport"), Qt::LeftButton);
        // An empty delimiter imports "$" lines; "|" then takes only "|" lines.
        dialog->findChild<QLineEdit *>("edtDelimiter")->clear();
        dialog->findChild<QLineEdit *>("edtPreName")->clear();
        QTest::mouseClick(dialog->findChild<QPushButton *>("btnImport"), Qt::LeftButton);
        dialog->findChild<QLineEdit *>("edtDelimiter")->setText("|");
        dialog->findChild<QPlainTextEdit *>("Memo1")->setPlainText("a|ftp://h/4\nb$http://h/5");
        QTest::mouseClick(dialog->findChild<QPushButton *>("btnImport"), Qt::LeftButton);
        // One browser request per block, named by "name$" or by its address.
        dialog->findChild<QLineEdit *>("edtDelimiter")->setText("$");
        dialog->findChild<QPlainTextEdit *>("Memo1")->setPlainText(
            "curl 'http://h/a/index.m3u8' \\\n  -H 'Referer: http://r/'\n\n"
            "片$curl 'http://h/b/index.m3u8' -b 'k=v'\n\ncurl 'http://h/c.m3u8' --data 'x'\n\n"
            "fetch(\"http://h/d/index.m3u8\", {});");
        QTest::mouseClick(dialog->findChild<QPushButton *>("btnImport"), Qt::LeftButton);
        dialog->close();
    });
    QTest::mouseClick(rig.find<QToolButton>("btnMLvwClipbrd"), Qt::LeftButton);
    QVERIFY(memoText.startsWith("第01集$http://h/1"));
    const QString d = rig.dir.path() + "/";
    QCOMPARE(rig.column(C::ColFile),
             (QStringList{d + "西游记第01集.mp4", d + "西游记第02集 大结局.mp4", d + "第01集.mp4",
                          d + "第02集 大结局.mp4", d + "a.mp4", d + "index.mp4", d + "片.mp4",
                          d + "index_2.mp4"}));
    QCOMPARE(rig.column(C::ColUrl).mid(4),
             (QStringList{"ftp://h/4", "http://h/a/index.m3u8", "http://h/b/index.m3u8",
                          "http://h/d/index.m3u8"}));
    QCOMPARE(rig.column(C::ColHeaders).mid(4),
             (QStringList{"", "Referer: http://r/\r\n", "Cookie: k=v\r\n", ""}));
    QCOMPARE(rig.notices,
             (QStringList{"TfrmClipboard|导入完毕|共尝试添加 2 个任务",
                          "TfrmClipboard|导入完毕|共尝试添加 2 个任务",
                          "TfrmClipboard|导入完毕|共尝试添加 1 个任务",
                          "TfrmClipboard|导入完毕|共尝试添加 3 个任务\n1 个请求无法读取: "
                          "请求带有数据 (--data), 只能下载 GET 请求"}));
}

void TestBatchImport::clipboard_dialog_double_clicks_clear_and_paste() {
    ImportRig rig;
    QGuiApplication::clipboard()->setText("x$http://h/1");
    QStringList seen;
    QTimer::singleShot(0, [&] {
        auto *dialog = QApplication::activeModalWidget();
        QVERIFY(dialog);
        auto *memo = dialog->findChild<QPlainTextEdit *>("Memo1");
        auto *prefix = dialog->findChild<QLineEdit *>("edtPreName");
        QTest::mouseDClick(memo->viewport(), Qt::LeftButton);
        seen << memo->toPlainText();
        QTest::mouseDClick(memo->viewport(), Qt::LeftButton);
        seen << memo->toPlainText();
        QTest::mouseDClick(prefix, Qt::LeftButton);
        seen << prefix->text();
        QGuiApplication::clipboard()->setText("y$http://h/2");
        QTest::mouseClick(dialog->findChild<QPushButton *>("btnPaste"), Qt::LeftButton);
        seen << memo->toPlainText();
        // Nothing is imported without a chosen folder.
        g_folder.clear();
        QTest::mouseClick(dialog->findChild<QPushButton *>("btnImport"), Qt::LeftButton);
        dialog->close();
    });
    rig.page.ClipboardImportAction()->trigger();
    QCOMPARE(seen, (QStringList{"", "x$http://h/1", "x$http://h/1", "y$http://h/2"}));
    QCOMPARE(rig.page.Model()->Count(), 0);
    QVERIFY(rig.notices.isEmpty());
}

void TestBatchImport::drops_on_the_three_targets() {
    ImportRig rig;
    DropRouter router;
    router.Install();
    rig.page.RegisterDropTargets(router);
    auto *url = rig.find<QLineEdit>("edtMUrl");
    const QString playlist = rig.writeList("a.M3U8", "#EXTM3U\n");
    const QString list = rig.writeList("剧集.txt", "http://h/1\nhttp://h/2\n");

    SendDrop(url, {list, playlist});
    QCOMPARE(url->text(), list);
    // A control of the page that is not registered itself hands the drop to the page.
    SendDrop(rig.find<QWidget>("pnlMFields"), {playlist, list});
    QCOMPARE(url->text(), playlist);
    url->clear();

    SendDrop(rig.list()->viewport(), {playlist});
    QCOMPARE(url->text(), playlist);
    QCOMPARE(rig.page.Model()->Count(), 0);

    SendDrop(rig.list()->viewport(), {list, playlist});
    QTRY_COMPARE(rig.page.Model()->Count(), 2);
    QCOMPARE(rig.column(C::ColFile),
             (QStringList{rig.dir.filePath("剧集01.mp4"), rig.dir.filePath("剧集02.mp4")}));
    QCOMPARE(g_folderTitles, QStringList{"选择保存位置"});

    g_folder.clear();
    SendDrop(rig.list()->viewport(), {list});
    QTRY_COMPARE(g_folderTitles.size(), 2);
    QCOMPARE(rig.page.Model()->Count(), 2);

    // A video dropped by mistake is refused before anything reads it or asks for a folder.
    QFile video(rig.dir.filePath("film.mkv"));
    QVERIFY(video.open(QIODevice::WriteOnly) && video.resize(17 * 1024 * 1024));
    video.close();
    SendDrop(rig.list()->viewport(), {video.fileName()});
    QTRY_COMPARE(rig.notices.size(), 1);
    QVERIFY(rig.notices.first().contains(QStringLiteral("文件超过 16 MB")));
    QCOMPARE(g_folderTitles.size(), 2);
    QCOMPARE(rig.page.Model()->Count(), 2);
}

QTEST_MAIN(TestBatchImport)
#include "tst_batchimport.moc"
