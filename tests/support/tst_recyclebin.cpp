#include "support/FileUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// HOME has to point at a fresh folder before Qt first asks for it, so it is set up in main.
QTemporaryDir *g_home = nullptr;

bool WriteFile(const QString &path, const QByteArray &data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QString TrashFiles() {
    return g_home->filePath(QStringLiteral(".local/share/Trash/files"));
}

}  // namespace

class RecycleBinTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void file_goes_to_the_trash_without_local_share();
    void folder_goes_to_the_trash_with_its_contents();
    void relative_path_is_resolved_against_the_current_folder();
    void missing_path_is_false();
    void empty_path_is_false_and_touches_nothing();
    void refused_folder_stays_without_remove_flag();
    void refused_folder_is_removed_with_remove_flag();

private:
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_savedCwd;
};

void RecycleBinTest::init() {
    // Start every case with no ~/.local at all, as in a fresh account.
    QVERIFY(QDir(g_home->filePath(QStringLiteral(".local"))).removeRecursively());
    m_work = std::make_unique<QTemporaryDir>(g_home->filePath(QStringLiteral("work-XXXXXX")));
    QVERIFY(m_work->isValid());
    m_savedCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_work->path()));
}

void RecycleBinTest::cleanup() {
    QDir::setCurrent(m_savedCwd);
    // Nothing may ever land in a "files" folder below the current directory.
    QVERIFY(!QFile::exists(m_work->filePath(QStringLiteral("files"))));
    m_work.reset();
}

void RecycleBinTest::file_goes_to_the_trash_without_local_share() {
    QVERIFY(!QFile::exists(g_home->filePath(QStringLiteral(".local/share"))));
    const QString path = m_work->filePath(QStringLiteral("seg-00001.ts"));
    QVERIFY(WriteFile(path, "segment"));

    QVERIFY(DeleteToRecycleBin(path));
    QVERIFY(!QFile::exists(path));
    const QString inTrash = TrashFiles() + QStringLiteral("/seg-00001.ts");
    QVERIFY2(QFile::exists(inTrash), qPrintable(inTrash));
    QFile trashed(inTrash);
    QVERIFY(trashed.open(QIODevice::ReadOnly));
    QCOMPARE(trashed.readAll(), QByteArray("segment"));
}

void RecycleBinTest::folder_goes_to_the_trash_with_its_contents() {
    const QString folder = m_work->filePath(QStringLiteral("1A2B3C4D"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/sub")));
    QVERIFY(WriteFile(folder + QStringLiteral("/index.m3u8"), "#EXTM3U\n"));
    QVERIFY(WriteFile(folder + QStringLiteral("/sub/key.key"), QByteArray(16, 'k')));

    QVERIFY(DeleteToRecycleBin(folder));
    QVERIFY(!QFile::exists(folder));
    QVERIFY(QFile::exists(TrashFiles() + QStringLiteral("/1A2B3C4D/index.m3u8")));
    QVERIFY(QFile::exists(TrashFiles() + QStringLiteral("/1A2B3C4D/sub/key.key")));
}

void RecycleBinTest::relative_path_is_resolved_against_the_current_folder() {
    QVERIFY(WriteFile(m_work->filePath(QStringLiteral("rel.txt")), "x"));
    QVERIFY(DeleteToRecycleBin(QStringLiteral("rel.txt")));
    QVERIFY(!QFile::exists(m_work->filePath(QStringLiteral("rel.txt"))));
    QVERIFY(QFile::exists(TrashFiles() + QStringLiteral("/rel.txt")));
}

void RecycleBinTest::missing_path_is_false() {
    QVERIFY(!DeleteToRecycleBin(m_work->filePath(QStringLiteral("missing"))));
    QVERIFY(!DeleteToRecycleBin(m_work->filePath(QStringLiteral("missing")), true));
}

void RecycleBinTest::empty_path_is_false_and_touches_nothing() {
    QVERIFY(WriteFile(m_work->filePath(QStringLiteral("keep.txt")), "x"));
    QVERIFY(!DeleteToRecycleBin(QString(), true));
    QVERIFY(QFile::exists(m_work->filePath(QStringLiteral("keep.txt"))));
}

void RecycleBinTest::refused_folder_stays_without_remove_flag() {
    // A plain file where the trash folder should be makes the trash unusable.
    QVERIFY(QDir().mkpath(g_home->filePath(QStringLiteral(".local/share"))));
    QVERIFY(WriteFile(g_home->filePath(QStringLiteral(".local/share/Trash")), "not a folder"));
    const QString folder = m_work->filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(WriteFile(folder + QStringLiteral("/a.ts"), "a"));

    QVERIFY(!DeleteToRecycleBin(folder));
    QVERIFY(QFile::exists(folder + QStringLiteral("/a.ts")));
}

void RecycleBinTest::refused_folder_is_removed_with_remove_flag() {
    QVERIFY(QDir().mkpath(g_home->filePath(QStringLiteral(".local/share"))));
    QVERIFY(WriteFile(g_home->filePath(QStringLiteral(".local/share/Trash")), "not a folder"));
    const QString folder = m_work->filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/deep")));
    QVERIFY(WriteFile(folder + QStringLiteral("/deep/a.ts"), "a"));

    QVERIFY(DeleteToRecycleBin(folder, true));
    QVERIFY(!QFile::exists(folder));
}

int main(int argc, char **argv) {
    QTemporaryDir home;
    if (!home.isValid())
        return 2;
    g_home = &home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qunsetenv("XDG_DATA_HOME");
    QCoreApplication app(argc, argv);
    RecycleBinTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recyclebin.moc"
