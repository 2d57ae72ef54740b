#include "support/TextUtils.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QByteArray ReadAll(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

bool WriteAll(const QString &path, const QByteArray &data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

}  // namespace

class TextFileTest : public QObject {
    Q_OBJECT
private slots:
    void init();

    void mixed_gbk_and_utf8_lines_each_decode_right();
    void saved_file_is_utf8_with_crlf_after_every_line_and_no_bom();
    void save_then_load_gives_the_same_lines();
    void line_ends_are_split_data();
    void line_ends_are_split();
    void drop_blank_removes_blank_and_control_only_lines();
    void without_drop_blank_blank_lines_stay();
    void missing_file_gives_zero_and_leaves_list_alone();
    void empty_file_gives_zero_and_leaves_list_alone();
    void loading_replaces_earlier_contents();
    void leading_byte_order_mark_is_not_part_of_the_first_line();
    void save_into_missing_folder_fails();
    void save_replaces_an_existing_file();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TextFileTest::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TextFileTest::mixed_gbk_and_utf8_lines_each_decode_right() {
    const QString file = path(QStringLiteral("mixed.txt"));
    QVERIFY(WriteAll(file, QByteArray("http://127.0.0.1/a.m3u8\r\n"
                                      "\xD6\xD0\xCE\xC4\\gbk.mp4\r\n"  // 中文 in GBK
                                      "\xE4\xB8\xAD\xE6\x96\x87/utf8.mp4\r\n"
                                      "\xC4\xE3\xBA\xC3\n")));  // 你好 in GBK, LF only
    QStringList lines;
    QCOMPARE(LoadTextFile(file, lines, false), 4);
    QCOMPARE(lines, QStringList({QStringLiteral("http://127.0.0.1/a.m3u8"),
                                 QStringLiteral("中文\\gbk.mp4"), QStringLiteral("中文/utf8.mp4"),
                                 QStringLiteral("你好")}));
}

void TextFileTest::saved_file_is_utf8_with_crlf_after_every_line_and_no_bom() {
    const QString file = path(QStringLiteral("out.txt"));
    QVERIFY(SaveTextFile(
        {QStringLiteral("a|b|"), QStringLiteral("中文"), QString(), QStringLiteral("last")}, file));
    QCOMPARE(ReadAll(file), QByteArray("a|b|\r\n\xE4\xB8\xAD\xE6\x96\x87\r\n\r\nlast\r\n"));
}

void TextFileTest::save_then_load_gives_the_same_lines() {
    const QString gbkFile = path(QStringLiteral("gbk.txt"));
    QVERIFY(WriteAll(gbkFile, QByteArray("\xD6\xD0\xCE\xC4\r\nplain\r\n\xC4\xE3\xBA\xC3")));
    QStringList lines;
    QCOMPARE(LoadTextFile(gbkFile, lines, false), 3);

    const QString saved = path(QStringLiteral("saved.txt"));
    QVERIFY(SaveTextFile(lines, saved));
    QCOMPARE(ReadAll(saved), QByteArray("\xE4\xB8\xAD\xE6\x96\x87\r\nplain\r\n"
                                        "\xE4\xBD\xA0\xE5\xA5\xBD\r\n"));
    QStringList again;
    QCOMPARE(LoadTextFile(saved, again, false), 3);
    QCOMPARE(again, lines);
}

void TextFileTest::line_ends_are_split_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");
    const QStringList abc{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\nc\r\n") << abc;
    QTest::newRow("lf only") << QByteArray("a\nb\nc\n") << abc;
    QTest::newRow("cr only") << QByteArray("a\rb\rc\r") << abc;
    QTest::newRow("no final line end") << QByteArray("a\r\nb\nc") << abc;
    QTest::newRow("mixed ends") << QByteArray("a\rb\r\nc\n") << abc;
    QTest::newRow("lf cr is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("inner empty line") << QByteArray("a\r\n\r\nb\r\n") << QStringList{"a", "", "b"};
    QTest::newRow("only a line end") << QByteArray("\r\n") << QStringList{""};
}

void TextFileTest::line_ends_are_split() {
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);
    const QString file = path(QStringLiteral("ends.txt"));
    QVERIFY(WriteAll(file, content));
    QStringList lines;
    QCOMPARE(LoadTextFile(file, lines, false), expected.size());
    QCOMPARE(lines, expected);
}

void TextFileTest::drop_blank_removes_blank_and_control_only_lines() {
    const QString file = path(QStringLiteral("blank.txt"));
    QVERIFY(WriteAll(file, QByteArray("first\r\n\r\n   \r\n\t \t\r\n\x01\x1F\r\n"
                                      "  kept with blanks \r\n\t\r\nlast\r\n\r\n")));
    QStringList lines;
    QCOMPARE(LoadTextFile(file, lines, true), 3);
    QCOMPARE(lines, QStringList({QStringLiteral("first"), QStringLiteral("  kept with blanks "),
                                 QStringLiteral("last")}));

    const QString allBlank = path(QStringLiteral("allblank.txt"));
    QVERIFY(WriteAll(allBlank, QByteArray(" \r\n\t\r\n")));
    QStringList none{QStringLiteral("old")};
    QCOMPARE(LoadTextFile(allBlank, none, true), 0);
    QVERIFY(none.isEmpty());
}

void TextFileTest::without_drop_blank_blank_lines_stay() {
    const QString file = path(QStringLiteral("blank.txt"));
    QVERIFY(WriteAll(file, QByteArray("a\r\n \r\n\t\r\nb")));
    QStringList lines;
    QCOMPARE(LoadTextFile(file, lines, false), 4);
    QCOMPARE(lines, QStringList({QStringLiteral("a"), QStringLiteral(" "), QStringLiteral("\t"),
                                 QStringLiteral("b")}));
}

void TextFileTest::missing_file_gives_zero_and_leaves_list_alone() {
    QStringList lines{QStringLiteral("keep me")};
    QCOMPARE(LoadTextFile(path(QStringLiteral("missing.txt")), lines, true), 0);
    QCOMPARE(lines, QStringList{QStringLiteral("keep me")});
}

void TextFileTest::empty_file_gives_zero_and_leaves_list_alone() {
    const QString file = path(QStringLiteral("empty.txt"));
    QVERIFY(WriteAll(file, QByteArray()));
    QStringList lines{QStringLiteral("keep me")};
    QCOMPARE(LoadTextFile(file, lines, false), 0);
    QCOMPARE(lines, QStringList{QStringLiteral("keep me")});
}

void TextFileTest::loading_replaces_earlier_contents() {
    const QString file = path(QStringLiteral("two.txt"));
    QVERIFY(WriteAll(file, QByteArray("x\r\ny\r\n")));
    QStringList lines{QStringLiteral("old 1"), QStringLiteral("old 2"), QStringLiteral("old 3")};
    QCOMPARE(LoadTextFile(file, lines, false), 2);
    QCOMPARE(lines, QStringList({QStringLiteral("x"), QStringLiteral("y")}));
}

void TextFileTest::leading_byte_order_mark_is_not_part_of_the_first_line() {
    const QString file = path(QStringLiteral("bom.txt"));
    QVERIFY(WriteAll(file, QByteArray("\xEF\xBB\xBFhttp://127.0.0.1/a.m3u8\r\nb\r\n")));
    QStringList lines;
    QCOMPARE(LoadTextFile(file, lines, false), 2);
    QCOMPARE(lines.first(), QStringLiteral("http://127.0.0.1/a.m3u8"));
}

void TextFileTest::save_into_missing_folder_fails() {
    QVERIFY(!SaveTextFile({QStringLiteral("a")}, path(QStringLiteral("no/such/folder/x.txt"))));
    QVERIFY(!QFile::exists(path(QStringLiteral("no"))));
}

void TextFileTest::save_replaces_an_existing_file() {
    const QString file = path(QStringLiteral("replace.txt"));
    QVERIFY(WriteAll(file, QByteArray("a much longer old content\r\nline 2\r\n")));
    QVERIFY(SaveTextFile({QStringLiteral("new")}, file));
    QCOMPARE(ReadAll(file), QByteArray("new\r\n"));
}

QTEST_APPLESS_MAIN(TextFileTest)
#include "tst_textfile.moc"
