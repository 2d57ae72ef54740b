#include "support/ProcessUtils.h"
#include "support/gui/GuiUtils.h"

#include <QApplication>
#include <QFontDatabase>
#include <QTest>
#include <QWidget>

namespace {

QString g_answer;
QString g_askedTitle;
QWidget *g_askedOwner = nullptr;
int g_asks = 0;

QString FakeChooser(QWidget *owner, const QString &title) {
    ++g_asks;
    g_askedOwner = owner;
    g_askedTitle = title;
    return g_answer;
}

}  // namespace

class GuiUtilsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanupTestCase();

    void chosen_folder_ends_in_a_separator_data();
    void chosen_folder_ends_in_a_separator();
    void cancel_gives_false_and_an_empty_folder();
    void empty_title_becomes_the_default_title();
    void given_title_and_owner_reach_the_chooser();
    void installed_fonts_match_without_regard_to_case();
    void unknown_font_is_not_installed();
};

void GuiUtilsTest::init() {
    SetFolderChooser(FakeChooser);
    g_answer.clear();
    g_askedTitle.clear();
    g_askedOwner = nullptr;
    g_asks = 0;
}

void GuiUtilsTest::cleanupTestCase() {
    SetFolderChooser(nullptr);
}

void GuiUtilsTest::chosen_folder_ends_in_a_separator_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("folder");
    QTest::newRow("root stays root") << "/"
                                     << "/";
    QTest::newRow("folder gets slash") << "/home/u/Video"
                                       << "/home/u/Video/";
    QTest::newRow("already ends in slash") << "/home/u/Video/"
                                           << "/home/u/Video/";
    QTest::newRow("chinese folder") << "/home/u/视频"
                                    << "/home/u/视频/";
    QTest::newRow("windows drive root") << "D:/"
                                        << "D:/";
}

void GuiUtilsTest::chosen_folder_ends_in_a_separator() {
    QFETCH(QString, chosen);
    QFETCH(QString, folder);
    g_answer = chosen;
    QString result = QStringLiteral("stale");
    QVERIFY(SelectFolder(nullptr, result));
    QCOMPARE(result, folder);
    QCOMPARE(g_asks, 1);
}

void GuiUtilsTest::cancel_gives_false_and_an_empty_folder() {
    g_answer.clear();
    QString result = QStringLiteral("/stale/");
    QVERIFY(!SelectFolder(nullptr, result));
    QVERIFY(result.isEmpty());
    QCOMPARE(g_asks, 1);
}

void GuiUtilsTest::empty_title_becomes_the_default_title() {
    g_answer = QStringLiteral("/tmp");
    QString result;
    QVERIFY(SelectFolder(nullptr, result));
    QCOMPARE(g_askedTitle, QStringLiteral("选择保存位置"));
    QVERIFY(SelectFolder(nullptr, result, QString()));
    QCOMPARE(g_askedTitle, QStringLiteral("选择保存位置"));
}

void GuiUtilsTest::given_title_and_owner_reach_the_chooser() {
    QWidget owner;
    g_answer = QStringLiteral("/tmp");
    QString result;
    QVERIFY(SelectFolder(&owner, result, QStringLiteral("导出到")));
    QCOMPARE(g_askedTitle, QStringLiteral("导出到"));
    QCOMPARE(g_askedOwner, &owner);
}

void GuiUtilsTest::installed_fonts_match_without_regard_to_case() {
    const QStringList families = QFontDatabase::families();
    if (families.isEmpty())
        QSKIP("no fonts installed");
    const QString family = families.first();
    QVERIFY(IsFontInstalled(family));
    QVERIFY(IsFontInstalled(family.toUpper()));
    QVERIFY(IsFontInstalled(family.toLower()));
}

void GuiUtilsTest::unknown_font_is_not_installed() {
    QVERIFY(!IsFontInstalled(QStringLiteral("No Such Font Family 7f3a")));
    QVERIFY(!IsFontInstalled(QString()));
}

QTEST_MAIN(GuiUtilsTest)
#include "tst_guiutils.moc"
