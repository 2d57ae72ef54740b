// Where work folders live (a folder of the user's own inside the shared temporary folder) and
// which of them the clean-up of kept work folders takes: only its own, unused and unreferenced
// ones, never through a link.

#include "TestTools.h"
#include "support/FileUtils.h"
#include "support/WorkFolders.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

class TestWorkFolders : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void temporary_folder_is_a_private_one_data();
    void temporary_folder_is_a_private_one();
    void removal_never_follows_a_link();
    void clean_up_takes_only_unused_unreferenced_own_folders_data();
    void clean_up_takes_only_unused_unreferenced_own_folders();

private:
    QTemporaryDir m_base;
};

void TestWorkFolders::initTestCase() {
    QVERIFY(m_base.isValid());
    TestTools::IsolateEnvironment(m_base.path());
    QVERIFY(QDir().mkpath(QDir::tempPath()));
    QVERIFY(QFileInfo(GetTempDir()).isDir());
}

void TestWorkFolders::temporary_folder_is_a_private_one_data() {
    QTest::addColumn<QString>("shape");
    QTest::addColumn<bool>("used");
    QTest::newRow("missing") << "missing" << true;
    QTest::newRow("own, closed") << "own" << true;
    QTest::newRow("another user's") << "foreign" << false;
    QTest::newRow("open to others") << "open" << false;
    QTest::newRow("a link to an own closed folder") << "link" << false;
}

void TestWorkFolders::temporary_folder_is_a_private_one() {
    QFETCH(QString, shape);
    QFETCH(bool, used);
    const QByteArray shared = qgetenv("TMPDIR");
    const QString tmp = m_base.filePath("shared-" + shape);
    const QString place = tmp + "/korvi-" + QString::number(getuid());
    QVERIFY(QDir().mkpath(tmp + "/target"));
    if (shape == "link")
        QVERIFY(QFile::link(tmp + "/target", place));
    else if (shape != "missing")
        QVERIFY(QDir().mkdir(place));
    if (shape == "foreign") {
        const passwd *nobody = getpwnam("nobody");
        if (!nobody || chown(QFile::encodeName(place).constData(), nobody->pw_uid, 0) != 0)
            QSKIP("needs root to hand a folder to another user");
    }
    chmod(QFile::encodeName(shape == "link" ? tmp + "/target" : place).constData(),
          shape == "open" ? 0777 : 0700);
    const QFileInfo before(place);

    qputenv("TMPDIR", QFile::encodeName(tmp));
    const QString dir = GetTempDir();
    qputenv("TMPDIR", shared);
    QCOMPARE(dir == place, used);
    struct stat st = {};
    QVERIFY(lstat(QFile::encodeName(dir).constData(), &st) == 0);
    QVERIFY(S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 0777) == 0700);
    // What was in the way is as it was.
    const QFileInfo after(place);
    QCOMPARE(after.isSymLink(), before.isSymLink());
    QCOMPARE(after.ownerId(), before.ownerId());
    QCOMPARE(after.permissions(), before.permissions());
    QCOMPARE(QDir(tmp + "/target").isEmpty(), true);
}

void TestWorkFolders::removal_never_follows_a_link() {
    const QString outside = m_base.filePath("outside");
    const QString dir = GetTempDir() + "/1234ABCD";
    QVERIFY(TestTools::WriteFile(outside + "/keep.txt", "mine"));
    QVERIFY(TestTools::WriteFile(dir + "/sub/01.ts", "segment"));
    QVERIFY(QFile::link(outside, dir + "/sub/link"));
    QVERIFY(QFile::link(outside + "/keep.txt", dir + "/02.ts"));
    QVERIFY(RemoveOutright(dir));
    QVERIFY(!QFileInfo::exists(dir));
    QCOMPARE(TestTools::ReadFile(outside + "/keep.txt"), QByteArray("mine"));
}

void TestWorkFolders::clean_up_takes_only_unused_unreferenced_own_folders_data() {
    QTest::addColumn<QString>("shape");
    QTest::addColumn<bool>("referenced");
    QTest::addColumn<bool>("removed");
    QTest::newRow("own, unreferenced") << "own" << false << true;
    QTest::newRow("own, referenced") << "own" << true << false;
    QTest::newRow("lower-case name") << "lower" << false << false;
    QTest::newRow("seven digits") << "short" << false << false;
    QTest::newRow("no list file") << "nolist" << false << false;
    QTest::newRow("no index") << "noindex" << false << false;
    QTest::newRow("a link to an own folder") << "link" << false << false;
    QTest::newRow("lock held") << "held" << false << false;
    QTest::newRow("lock of an ended process") << "stale" << false << true;
}

void TestWorkFolders::clean_up_takes_only_unused_unreferenced_own_folders() {
    QFETCH(QString, shape);
    QFETCH(bool, referenced);
    QFETCH(bool, removed);
    const QString url = "http://127.0.0.1:1/" + shape + ".m3u8";
    const QString id = WorkIdFor(url);
    QString name = id;
    if (shape == "lower")
        name = id.toLower();
    else if (shape == "short")
        name = id.left(7);
    const QString dir = GetTempDir() + "/" + name;
    const QString real = shape == "link" ? m_base.filePath("elsewhere/" + id) : dir;
    QVERIFY(QDir().mkpath(real));
    if (shape == "link")
        QVERIFY(QFile::link(real, dir));
    if (shape != "noindex")
        QVERIFY(TestTools::WriteFile(real + "/index.m3u8", "#EXTM3U\n"));
    if (shape != "nolist")
        QVERIFY(TestTools::WriteFile(real + "/" + WorkListFileName(name), "x\n"));
    QVERIFY(TestTools::WriteFile(real + "/01.ts", "segment"));

    std::unique_ptr<QLockFile> lock;
    if (shape == "held") {
        lock = std::make_unique<QLockFile>(dir + "/" + WorkLockFileName(id));
        QVERIFY(lock->tryLock(0));
    } else if (shape == "stale") {
        QProcess ended;
        ended.start("true");
        QVERIFY(ended.waitForStarted(5000));
        const qint64 pid = ended.processId();
        QVERIFY(ended.waitForFinished(5000));
        const QByteArray holder =
            QByteArray::number(pid) + "\nkorvi\n" + QSysInfo::machineHostName().toUtf8() + "\n";
        QVERIFY(TestTools::WriteFile(dir + "/" + WorkLockFileName(id), holder));
    }

    const QStringList urls = referenced ? QStringList{"  " + url + " "} : QStringList();
    QCOMPARE(RemoveUnreferencedWorkDirs(urls), removed ? 1 : 0);
    QCOMPARE(QFileInfo::exists(dir), !removed);
    QVERIFY(QFile::exists(real + "/01.ts") != removed);
    // What the start-up clean-up keeps, a removed row's clean-up keeps as well.
    if (!removed && !referenced) {
        QVERIFY(!RemoveKeptWorkDir(url));
        QVERIFY(QFile::exists(real + "/01.ts"));
    }
    lock.reset();
    QFile::remove(dir);
    QDir(real).removeRecursively();
}

QTEST_GUILESS_MAIN(TestWorkFolders)
#include "tst_workfolders.moc"
