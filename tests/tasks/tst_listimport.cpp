// The batch import parsers on real list files: the naming rules of the list import, read the way
// the program reads its text files, and the field split of clipboard lines.

#include "tasks/import/ListImport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString WriteList(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

QStringList Names(const QList<ImportedTask> &tasks) {
    QStringList names;
    for (const ImportedTask &task : tasks)
        names << QFileInfo(task.outFile).fileName();
    return names;
}

}  // namespace

class TestListImport : public QObject {
    Q_OBJECT
private slots:
    void list_file_names_its_addresses_data();
    void list_file_names_its_addresses();
    void width_counts_only_non_blank_lines();
    void gbk_and_utf8_lists_give_the_same_names();
    void missing_file_or_folder_imports_nothing();
    void fields_split_data();
    void fields_split();
    void clipboard_line_needs_an_address_as_second_field();
};

void TestListImport::list_file_names_its_addresses_data() {
    QTest::addColumn<QString>("listName");
    QTest::addColumn<bool>("noPrefix");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("firstUrl");

    QTest::newRow("exported playlist")
        << "西游记.m3u8" << false
        << "#EXTM3U\n#EXTINF:-1, 第01集\nhttp://h/1.m3u8\n#EXTINF:-1, 第02集\nhttp://h/2.m3u8\n"
        << QStringList{"西游记第01集.mp4", "西游记第02集.mp4"} << "http://h/1.m3u8";
    QTest::newRow("numbered title lines")
        << "西游记.m3u8" << false << "01\r\nhttp://h/1.m3u8\r\n02\r\nhttp://h/2.m3u8\r\n"
        << QStringList{"西游记01.mp4", "西游记02.mp4"} << "http://h/1.m3u8";
    QTest::newRow("title lines without prefix")
        << "测试.m3u" << true << "大话西游\nhttps://h/a.m3u8\n红楼梦\nhttps://h/b.m3u8"
        << QStringList{"大话西游.mp4", "红楼梦.mp4"} << "https://h/a.m3u8";
    QTest::newRow("bare addresses")
        << "西游记.m3u8" << false << "http://h/1\nhttp://h/2\nhttp://h/3\n"
        << QStringList{"西游记01.mp4", "西游记02.mp4", "西游记03.mp4"} << "http://h/1";
    QTest::newRow("title already carries the prefix")
        << "西游记.m3u8" << false << "西游记01\nhttp://h/1\n"
        << QStringList{"西游记01.mp4"} << "http://h/1";
    QTest::newRow("no prefix, bare address") << "西游记.m3u8" << true << "http://h/1\n"
                                             << QStringList{"01.mp4"} << "http://h/1";
    QTest::newRow("address after an address is numbered")
        << "a.b.txt" << false << "标题\nhttp://h/1\nhttp://h/2\n"
        << QStringList{"a.b标题.mp4", "a.b02.mp4"} << "http://h/1";
    QTest::newRow("titled tasks count towards the number")
        << "L.m3u" << false << "t1\nhttp://h/1\nt2\nhttp://h/2\nhttp://h/3\n"
        << QStringList{"Lt1.mp4", "Lt2.mp4", "L03.mp4"} << "http://h/1";
    QTest::newRow("words before the address stay in it")
        << "L.m3u" << false << "  看这里 http://h/x.m3u8  \n"
        << QStringList{"L01.mp4"} << "看这里 http://h/x.m3u8";
    QTest::newRow("#EXTM3U before an address is a title")
        << "L.m3u" << false << "#EXTM3U\nhttp://h/1\n"
        << QStringList{"L#EXTM3U.mp4"} << "http://h/1";
    QTest::newRow("#EXTINF without a title is numbered")
        << "L.m3u" << false << "#EXTINF:-1,\nhttp://h/1\n#EXTINF:-1,abc\nhttp://h/2\n"
        << QStringList{"L01.mp4", "L02.mp4"} << "http://h/1";
    QTest::newRow("slashes and control characters leave the name")
        << "L.m3u" << false
        << "#EXTINF:-1, ../上级/第1集\nhttp://h/1\na\tb\x01"
           "c\nhttp://h/2\n"
        << QStringList{"L.._上级_第1集.mp4", "Labc.mp4"} << "http://h/1";
}

void TestListImport::list_file_names_its_addresses() {
    QFETCH(QString, listName);
    QFETCH(bool, noPrefix);
    QFETCH(QString, text);
    QFETCH(QStringList, names);
    QFETCH(QString, firstUrl);
    QTemporaryDir dir;
    const QString list = WriteList(dir, listName, text.toUtf8());
    QVERIFY(!list.isEmpty());
    const QString folder = dir.path() + QLatin1Char('/');
    const QList<ImportedTask> tasks = ImportM3uList(list, folder, noPrefix);
    QCOMPARE(Names(tasks), names);
    QCOMPARE(tasks.first().url, firstUrl);
    // Every output stays directly in the chosen folder.
    for (const ImportedTask &task : tasks)
        QCOMPARE(QFileInfo(task.outFile).absolutePath(), QDir(folder).absolutePath());
}

void TestListImport::width_counts_only_non_blank_lines() {
    QByteArray text;
    for (int i = 1; i <= 120; ++i)
        text += "http://h/" + QByteArray::number(i) + "\n \n\t\n";
    QTemporaryDir dir;
    const QList<ImportedTask> many =
        ImportM3uList(WriteList(dir, "many.txt", text), dir.path() + "/", true);
    QCOMPARE(many.size(), 120);
    QCOMPARE(Names(many).first(), QStringLiteral("001.mp4"));
    QCOMPARE(Names(many).last(), QStringLiteral("120.mp4"));

    // 99 addresses and 99 blank lines: still two digits.
    QByteArray less;
    for (int i = 1; i <= 99; ++i)
        less += "http://h/" + QByteArray::number(i) + "\r\n\r\n";
    const QList<ImportedTask> fewer =
        ImportM3uList(WriteList(dir, "less.txt", less), dir.path() + "/", true);
    QCOMPARE(Names(fewer).last(), QStringLiteral("99.mp4"));
}

void TestListImport::gbk_and_utf8_lists_give_the_same_names() {
    const QString text = QStringLiteral(
        "#EXTM3U\r\n#EXTINF:-1, 第01集 大闹天宫\r\nhttp://h/1\r\n"
        "猪八戒\r\nhttp://h/2\r\n");
    QStringEncoder gbk("GBK");
    const QByteArray gbkBytes = gbk.encode(text);
    QVERIFY(!gbk.hasError() && gbkBytes != text.toUtf8());
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    const QStringList fromGbk =
        Names(ImportM3uList(WriteList(dir, "西游记.m3u", gbkBytes), folder, false));
    const QStringList fromUtf8 =
        Names(ImportM3uList(WriteList(dir, "西游记.txt", text.toUtf8()), folder, false));
    QCOMPARE(fromGbk, (QStringList{"西游记第01集 大闹天宫.mp4", "西游记猪八戒.mp4"}));
    QCOMPARE(fromUtf8, fromGbk);
}

void TestListImport::missing_file_or_folder_imports_nothing() {
    QTemporaryDir dir;
    const QString list = WriteList(dir, "a.m3u", "http://h/1\n");
    QCOMPARE(ImportM3uList(list, dir.path() + "/", false).size(), 1);
    QVERIFY(ImportM3uList(list, dir.path() + "/nosuch/", false).isEmpty());
    QVERIFY(ImportM3uList(dir.filePath("nosuch.m3u"), dir.path() + "/", false).isEmpty());
    QVERIFY(ImportM3uList(list, QString(), false).isEmpty());
    QVERIFY(ImportM3uList(WriteList(dir, "empty.m3u", " \n\n"), dir.path() + "/", false).isEmpty());
}

void TestListImport::fields_split_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QStringList>("fields");

    QTest::newRow("name and address") << "第01集$http://h/1"
                                      << "$" << QStringList{"第01集", "http://h/1"};
    QTest::newRow("quoted name with blanks and doubled quotes")
        << R"(  "第03集 ""大结局"" $"$http://h/3)"
        << "$" << QStringList{R"(第03集 "大结局" $)", "http://h/3"};
    QTest::newRow("missing closing quote") << R"("第03集 $http://h/3)"
                                           << "$" << QStringList{"第03集 $http://h/3"};
    QTest::newRow("blank separates like the delimiter")
        << "第01 集$http://h/1"
        << "$" << QStringList{"第01", "集", "http://h/1"};
    QTest::newRow("blanks around the delimiter") << " a \t$  http://h/1 "
                                                 << "$" << QStringList{"a", "http://h/1"};
    QTest::newRow("line starts with the delimiter") << "$http://h/1"
                                                    << "$" << QStringList{"", "http://h/1"};
    QTest::newRow("trailing delimiter") << "第01集$"
                                        << "$" << QStringList{"第01集", ""};
    QTest::newRow("pipe as delimiter") << "名称|http://h/1"
                                       << "|" << QStringList{"名称", "http://h/1"};
    QTest::newRow("dollar line under pipe") << "名称$http://h/1"
                                            << "|" << QStringList{"名称$http://h/1"};
    QTest::newRow("two delimiters in a row") << "a$$b"
                                             << "$" << QStringList{"a", "", "b"};
    QTest::newRow("empty line") << "  "
                                << "$" << QStringList{};
}

void TestListImport::fields_split() {
    QFETCH(QString, line);
    QFETCH(QString, delimiter);
    QFETCH(QStringList, fields);
    QCOMPARE(SplitFields(line, delimiter.at(0)), fields);
}

void TestListImport::clipboard_line_needs_an_address_as_second_field() {
    ImportedTask task;
    QVERIFY(ClipboardLineTask("$http://h/1", '$', "西游记", "/out/", task));
    QCOMPARE(task.outFile, QStringLiteral("/out/西游记.mp4"));
    QVERIFY(ClipboardLineTask("\"a/b\"$HTTP://h/1$x", '$', "", "/out/", task));
    QCOMPARE(task.url, QStringLiteral("HTTP://h/1"));
    QCOMPARE(task.outFile, QStringLiteral("/out/a_b.mp4"));
    QVERIFY(!ClipboardLineTask("第01集$", '$', "", "/out/", task));
    QVERIFY(!ClipboardLineTask("http://h/1", '$', "", "/out/", task));
    QVERIFY(!ClipboardLineTask("a b$http://h/1", '$', "", "/out/", task));
}

QTEST_GUILESS_MAIN(TestListImport)
#include "tst_listimport.moc"
