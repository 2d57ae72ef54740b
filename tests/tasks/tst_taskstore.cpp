// Tasks.dat: what is written, what is read back, and what a bad file or a failed write does.

#include "FakeTask.h"
#include "TestTools.h"

#include "tasks/queue/TaskListModel.h"
#include "tasks/queue/TaskScheduler.h"
#include "tasks/queue/TaskStore.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

using C = TaskListModel;

struct Rig {
    TaskListModel model;
    FakeHost host;
    FakeTaskPool pool;
    TaskScheduler scheduler{&model, &host, pool.Factory()};
};

QByteArray ReadAll(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool WriteAll(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int FileMode(const QString &path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 0777);
}

// Puts something that exists but cannot be read where the file should be.
bool MakeUnreadable(const QString &path, const QString &kind) {
    return kind == QLatin1String("folder") ? QDir().mkpath(path) : TestTools::MakeSocketFile(path);
}

QString Base64OfUtf8(const QString &text) {
    return QString::fromLatin1(text.toUtf8().toBase64());
}

}  // namespace

class TestTaskStore : public QObject {
    Q_OBJECT
private slots:
    void init();
    void file_lies_in_the_given_folder();
    void two_tasks_give_two_lines_the_second_ending_in_a_bar();
    void round_trip_restores_queued_numbered_rows();
    void output_path_with_blanks_survives();
    void chinese_headers_are_base64_of_utf8_in_one_piece();
    void every_row_is_saved_queued_or_failed_alike();
    void lines_without_three_fields_are_skipped_data();
    void lines_without_three_fields_are_skipped();
    void blank_lines_are_ignored();
    void gbk_lines_of_an_older_file_load();
    void blank_or_empty_fields_drop_the_task();
    void broken_base64_loads_without_failing();
    void missing_file_loads_nothing();
    void loading_starts_nothing();
    void empty_list_deletes_the_file();
    void failed_write_keeps_the_old_file();
    void bar_or_line_break_in_a_field_survives_a_restart_data();
    void bar_or_line_break_in_a_field_survives_a_restart();
    void older_lines_load_as_before_data();
    void older_lines_load_as_before();
    void file_is_for_its_owner_only();
    void unreadable_file_is_reported_and_loads_nothing_data();
    void unreadable_file_is_reported_and_loads_nothing();
    void changes_of_the_rows_are_saved_soon_in_one_write();
    void blocked_saver_never_touches_the_file();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestTaskStore::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = TasksFilePath(m_dir->path());
}

void TestTaskStore::file_lies_in_the_given_folder() {
    QCOMPARE(TasksFilePath(QStringLiteral("/home/u/.config/Korvi")),
             QStringLiteral("/home/u/.config/Korvi/Tasks.dat"));
    QCOMPARE(TasksFilePath(QStringLiteral("/opt/korvi/")), QStringLiteral("/opt/korvi/Tasks.dat"));
}

void TestTaskStore::two_tasks_give_two_lines_the_second_ending_in_a_bar() {
    Rig rig;
    rig.scheduler.AddM3u8Task(QStringLiteral("http://h/a.m3u8"), QStringLiteral("/v/a.mp4"),
                              QStringLiteral("Referer: http://h/"));
    rig.scheduler.AddM3u8Task(QStringLiteral("/v/local.m3u8"), QStringLiteral("/v/b.mp4"),
                              QString());
    QVERIFY(SaveTasks(rig.model, m_path));
    const QByteArray expected = "/v/a.mp4|http://h/a.m3u8|" +
                                QByteArray("Referer: http://h/").toBase64() +
                                "\r\n/v/b.mp4|/v/local.m3u8|\r\n";
    QCOMPARE(ReadAll(m_path), expected);
}

void TestTaskStore::round_trip_restores_queued_numbered_rows() {
    Rig saved;
    saved.scheduler.AddM3u8Task(QStringLiteral("http://h/a.m3u8"), QStringLiteral("/v/a.mp4"),
                                QStringLiteral("Referer: http://h/\r\nCookie: k=v"));
    saved.scheduler.AddM3u8Task(QStringLiteral("http://h/b.m3u8"), QStringLiteral("/v/b.mp4"),
                                QString());
    saved.model.SetField(1, C::ColId, QStringLiteral("4"));
    saved.model.SetField(1, C::ColNumber, QStringLiteral("9"));
    saved.model.SetField(1, C::ColProgress, QStringLiteral("50.00%"));
    QVERIFY(SaveTasks(saved.model, m_path));

    Rig loaded;
    QCOMPARE(LoadTasks(loaded.scheduler, m_path), 2);
    QCOMPARE(loaded.model.Count(), 2);
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(loaded.model.Field(row, C::ColNumber), QString::number(row + 1));
        QVERIFY(loaded.model.Field(row, C::ColId).isEmpty());
        QVERIFY(loaded.model.Field(row, C::ColStatus).isEmpty());
        QVERIFY(loaded.model.Field(row, C::ColProgress).isEmpty());
        for (C::Column column : {C::ColFile, C::ColUrl, C::ColHeaders})
            QCOMPARE(loaded.model.Field(row, column), saved.model.Field(row, column));
    }
    QCOMPARE(loaded.model.Field(0, C::ColHeaders),
             QStringLiteral("Referer: http://h/\r\nCookie: k=v"));
    QVERIFY(loaded.model.Field(1, C::ColHeaders).isEmpty());
}

void TestTaskStore::output_path_with_blanks_survives() {
    Rig saved;
    const QString out = QStringLiteral("/home/u/My Videos/a clip (1).mp4");
    saved.scheduler.AddM3u8Task(QStringLiteral("http://h/x y.m3u8"), out, QString());
    QVERIFY(SaveTasks(saved.model, m_path));
    Rig loaded;
    LoadTasks(loaded.scheduler, m_path);
    QCOMPARE(loaded.model.Count(), 1);
    QCOMPARE(loaded.model.Field(0, C::ColFile), out);
    QCOMPARE(loaded.model.Field(0, C::ColUrl), QStringLiteral("http://h/x y.m3u8"));
}

void TestTaskStore::chinese_headers_are_base64_of_utf8_in_one_piece() {
    // Long enough that the encoder breaks its output into several 76-character lines.
    const QString headers = QStringLiteral(
        "Referer: https://视频.example/播放页/第一集\r\nUser-Agent: 浏览器 测试 Mozilla/5.0 "
        "(X11; Linux x86_64)\r\nCookie: 会话=一二三四五六七八九十");
    Rig saved;
    saved.scheduler.AddM3u8Task(QStringLiteral("http://h/a.m3u8"), QStringLiteral("/v/中文.mp4"),
                                headers);
    QVERIFY(SaveTasks(saved.model, m_path));

    const QByteArray bytes = ReadAll(m_path);
    QVERIFY(bytes.endsWith("\r\n"));
    QCOMPARE(bytes.count("\r\n"), 1);
    const QList<QByteArray> fields = bytes.chopped(2).split('|');
    QCOMPARE(fields.size(), 3);
    QVERIFY(fields[2].size() > 76);
    QCOMPARE(QString::fromLatin1(fields[2]), Base64OfUtf8(headers));
    QCOMPARE(QString::fromUtf8(fields[0]), QStringLiteral("/v/中文.mp4"));

    Rig loaded;
    LoadTasks(loaded.scheduler, m_path);
    QCOMPARE(loaded.model.Field(0, C::ColHeaders), headers);
    QCOMPARE(loaded.model.Field(0, C::ColFile), QStringLiteral("/v/中文.mp4"));
}

void TestTaskStore::every_row_is_saved_queued_or_failed_alike() {
    Rig saved;
    for (int n = 1; n <= 3; ++n)
        saved.scheduler.AddM3u8Task(QStringLiteral("http://h/%1.m3u8").arg(n),
                                    QStringLiteral("/v/%1.mp4").arg(n), QString());
    saved.model.SetField(1, C::ColStatus, QStringLiteral("合并失败"));
    QVERIFY(SaveTasks(saved.model, m_path));
    Rig loaded;
    QCOMPARE(LoadTasks(loaded.scheduler, m_path), 3);
    QCOMPARE(loaded.model.Field(1, C::ColUrl), QStringLiteral("http://h/2.m3u8"));
    QVERIFY(loaded.model.IsRowQueued(1));
}

void TestTaskStore::lines_without_three_fields_are_skipped_data() {
    QTest::addColumn<QByteArray>("middle");
    QTest::newRow("two fields") << QByteArray("/v/bad.mp4|http://h/bad.m3u8");
    QTest::newRow("four fields") << QByteArray("/v/bad.mp4|http://h/bad.m3u8|UmVmZXJlcjogeA==|x");
    QTest::newRow("one field") << QByteArray("/v/bad.mp4");
    QTest::newRow("bar inside the address") << QByteArray("/v/bad.mp4|http://h/a|b.m3u8|");
}

void TestTaskStore::lines_without_three_fields_are_skipped() {
    QFETCH(QByteArray, middle);
    QVERIFY(WriteAll(m_path, "/v/1.mp4|http://h/1.m3u8|\r\n" + middle +
                                 "\r\n/v/3.mp4|http://h/3.m3u8|UmVmZXJlcjogeA==\r\n"));
    Rig loaded;
    QCOMPARE(LoadTasks(loaded.scheduler, m_path), 2);
    QCOMPARE(loaded.model.Count(), 2);
    QCOMPARE(loaded.model.Field(0, C::ColUrl), QStringLiteral("http://h/1.m3u8"));
    QCOMPARE(loaded.model.Field(1, C::ColUrl), QStringLiteral("http://h/3.m3u8"));
    QCOMPARE(loaded.model.Field(1, C::ColHeaders), QStringLiteral("Referer: x"));
    QCOMPARE(loaded.model.Field(1, C::ColNumber), QStringLiteral("2"));
}

void TestTaskStore::blank_lines_are_ignored() {
    QVERIFY(WriteAll(m_path,
                     "\r\n   \r\n/v/1.mp4|http://h/1.m3u8|\r\n\t\r\n\n"
                     "/v/2.mp4|http://h/2.m3u8|\r\n\r\n"));
    Rig loaded;
    QCOMPARE(LoadTasks(loaded.scheduler, m_path), 2);
    QCOMPARE(loaded.model.Count(), 2);
    QCOMPARE(loaded.model.Field(1, C::ColFile), QStringLiteral("/v/2.mp4"));
}

void TestTaskStore::gbk_lines_of_an_older_file_load() {
    QStringEncoder gbk("GBK");
    QVERIFY(gbk.isValid());
    const QByteArray line = gbk(QStringLiteral("/v/第一集.mp4|http://h/1.m3u8|"));
    QVERIFY(WriteAll(m_path, line + "\r\n"));
    Rig loaded;
    LoadTasks(loaded.scheduler, m_path);
    QCOMPARE(loaded.model.Count(), 1);
    QCOMPARE(loaded.model.Field(0, C::ColFile), QStringLiteral("/v/第一集.mp4"));
}

void TestTaskStore::blank_or_empty_fields_drop_the_task() {
    QVERIFY(WriteAll(m_path,
                     "  /v/1.mp4 | http://h/1.m3u8 |\r\n"
                     "/v/2.mp4||\r\n"
                     " |http://h/3.m3u8|\r\n"));
    Rig loaded;
    LoadTasks(loaded.scheduler, m_path);
    QCOMPARE(loaded.model.Count(), 1);
    QCOMPARE(loaded.model.Field(0, C::ColFile), QStringLiteral("/v/1.mp4"));
    QCOMPARE(loaded.model.Field(0, C::ColUrl), QStringLiteral("http://h/1.m3u8"));
}

void TestTaskStore::broken_base64_loads_without_failing() {
    QVERIFY(WriteAll(m_path, "/v/1.mp4|http://h/1.m3u8|***%%%\r\n/v/2.mp4|http://h/2.m3u8|\r\n"));
    Rig loaded;
    QCOMPARE(LoadTasks(loaded.scheduler, m_path), 2);
    QCOMPARE(loaded.model.Count(), 2);
    QVERIFY(loaded.model.Field(0, C::ColHeaders).isEmpty());
}

void TestTaskStore::missing_file_loads_nothing() {
    Rig loaded;
    QCOMPARE(LoadTasks(loaded.scheduler, m_path), 0);
    QCOMPARE(loaded.model.Count(), 0);
    QVERIFY(!QFile::exists(m_path));
}

void TestTaskStore::loading_starts_nothing() {
    QVERIFY(WriteAll(m_path, "/v/1.mp4|http://h/1.m3u8|\r\n"));
    Rig loaded;
    LoadTasks(loaded.scheduler, m_path);
    QVERIFY(loaded.scheduler.IsStopped());
    QVERIFY(!loaded.scheduler.IsTickArmed());
    QCOMPARE(loaded.pool.Created(), 0);
}

void TestTaskStore::empty_list_deletes_the_file() {
    QVERIFY(WriteAll(m_path, "/v/1.mp4|http://h/1.m3u8|\r\n"));
    Rig rig;
    QVERIFY(SaveTasks(rig.model, m_path));
    QVERIFY(!QFile::exists(m_path));
    QVERIFY(SaveTasks(rig.model, m_path));  // nothing to delete is fine too
    Rig loaded;
    QCOMPARE(LoadTasks(loaded.scheduler, m_path), 0);
}

void TestTaskStore::failed_write_keeps_the_old_file() {
    // A name so long that no temporary name can be made beside it: the write fails for real.
    const QString path =
        m_dir->filePath(QString(241, QLatin1Char('t')) + QStringLiteral("Tasks.dat"));
    const QByteArray old = "/v/old.mp4|http://h/old.m3u8|\r\n";
    QVERIFY(WriteAll(path, old));

    Rig rig;
    rig.scheduler.AddM3u8Task(QStringLiteral("http://h/new.m3u8"), QStringLiteral("/v/new.mp4"),
                              QString());
    QVERIFY(!SaveTasks(rig.model, path));
    QCOMPARE(ReadAll(path), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestTaskStore::bar_or_line_break_in_a_field_survives_a_restart_data() {
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("headers");
    QTest::newRow("bar in the address query") << "/v/a.mp4"
                                              << "http://h/a.m3u8?sel=a|b&t=1"
                                              << "Cookie: k=v";
    QTest::newRow("bar in the output") << "/v/a|b 第1集.mp4"
                                       << "http://h/a.m3u8" << QString();
    QTest::newRow("bars and percents in both") << "/v/100%|a%7C.mp4"
                                               << "http://h/%7C|x%25.m3u8"
                                               << "Referer: http://h/|";
    QTest::newRow("line break in the address") << "/v/c.mp4"
                                               << "http://h/c.m3u8\r\nX" << QString();
}

void TestTaskStore::bar_or_line_break_in_a_field_survives_a_restart() {
    QFETCH(QString, output);
    QFETCH(QString, address);
    QFETCH(QString, headers);
    Rig saved;
    saved.scheduler.AddM3u8Task(QStringLiteral("http://h/before.m3u8"),
                                QStringLiteral("/v/before.mp4"), QString());
    saved.scheduler.AddM3u8Task(address, output, headers);
    QVERIFY(SaveTasks(saved.model, m_path));
    const QList<QByteArray> lines = ReadAll(m_path).split('\n');
    QCOMPARE(lines.size(), 3);
    // The ordinary line is written as ever; the other still has three fields.
    QCOMPARE(lines[0], QByteArray("/v/before.mp4|http://h/before.m3u8|\r"));
    QCOMPARE(lines[1].split('|').size(), 3);

    Rig loaded;
    QCOMPARE(LoadTasks(loaded.scheduler, m_path), 2);
    QCOMPARE(loaded.model.Field(1, C::ColFile), output);
    QCOMPARE(loaded.model.Field(1, C::ColUrl), address);
    QCOMPARE(loaded.model.Field(1, C::ColHeaders), headers);
}

void TestTaskStore::older_lines_load_as_before_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("headers");
    QTest::newRow("percent escapes of a URL stay as they are")
        << QByteArray("/v/a%7Cb%25.mp4|http://h/a%7Cb.m3u8?q=%0A|UmVmZXJlcjogeA==")
        << "/v/a%7Cb%25.mp4"
        << "http://h/a%7Cb.m3u8?q=%0A"
        << "Referer: x";
    QTest::newRow("without headers") << QByteArray("/v/b.mp4|/v/local.m3u8|") << "/v/b.mp4"
                                     << "/v/local.m3u8" << QString();
    QTest::newRow("relative output becomes absolute")
        << QByteArray("c.mp4|http://h/c.m3u8|") << QDir::homePath() + "/c.mp4"
        << "http://h/c.m3u8" << QString();
}

void TestTaskStore::older_lines_load_as_before() {
    QFETCH(QByteArray, line);
    QFETCH(QString, output);
    QFETCH(QString, address);
    QFETCH(QString, headers);
    QVERIFY(WriteAll(m_path, line + "\r\n"));
    Rig loaded;
    QCOMPARE(LoadTasks(loaded.scheduler, m_path), 1);
    QCOMPARE(loaded.model.Field(0, C::ColFile), output);
    QCOMPARE(loaded.model.Field(0, C::ColUrl), address);
    QCOMPARE(loaded.model.Field(0, C::ColHeaders), headers);
}

void TestTaskStore::file_is_for_its_owner_only() {
    Rig rig;
    rig.scheduler.AddM3u8Task(QStringLiteral("http://h/a.m3u8"), QStringLiteral("/v/a.mp4"),
                              QStringLiteral("Cookie: secret"));
    QVERIFY(SaveTasks(rig.model, m_path));
    QCOMPARE(FileMode(m_path), 0600);
    // A file an older run left readable by everyone is tightened at the next save.
    QVERIFY(QFile::setPermissions(
        m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    QCOMPARE(FileMode(m_path), 0644);
    QVERIFY(SaveTasks(rig.model, m_path));
    QCOMPARE(FileMode(m_path), 0600);
}

void TestTaskStore::unreadable_file_is_reported_and_loads_nothing_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("socket") << "socket";
    QTest::newRow("folder") << "folder";
}

void TestTaskStore::unreadable_file_is_reported_and_loads_nothing() {
    QFETCH(QString, kind);
    QVERIFY(MakeUnreadable(m_path, kind));
    Rig loaded;
    bool unreadable = false;
    QCOMPARE(LoadTasks(loaded.scheduler, m_path, &unreadable), 0);
    QVERIFY(unreadable);
    QCOMPARE(loaded.model.Count(), 0);

    // A readable or a missing file is not reported.
    const QString other = m_dir->filePath(QStringLiteral("other.dat"));
    QCOMPARE(LoadTasks(loaded.scheduler, other, &unreadable), 0);
    QVERIFY(!unreadable);
    QVERIFY(WriteAll(other, "/v/1.mp4|http://h/1.m3u8|\r\n"));
    QCOMPARE(LoadTasks(loaded.scheduler, other, &unreadable), 1);
    QVERIFY(!unreadable);
}

void TestTaskStore::changes_of_the_rows_are_saved_soon_in_one_write() {
    Rig rig;
    TaskListSaver saver(&rig.model, m_path);
    saver.SetDelay(50);
    QSignalSpy saved(&saver, &TaskListSaver::Saved);
    for (int n = 1; n <= 3; ++n)
        rig.scheduler.AddM3u8Task(QStringLiteral("http://h/%1.m3u8").arg(n),
                                  QStringLiteral("/v/%1.mp4").arg(n), QString());
    QVERIFY(saver.IsPending());
    QVERIFY(!QFile::exists(m_path));
    QTRY_COMPARE(saved.count(), 1);
    QCOMPARE(ReadAll(m_path).count("\r\n"), 3);

    // Status and progress are not stored: their changes write nothing.
    rig.model.SetField(0, C::ColStatus, QStringLiteral("下载中"));
    rig.model.SetField(0, C::ColProgress, QStringLiteral("5.00%"));
    rig.model.SetField(0, C::ColId, QStringLiteral("7"));
    QVERIFY(!saver.IsPending());

    // A move, a removal (a finished row) and an edited field each come to the file.
    QVERIFY(rig.model.moveRow(QModelIndex(), 2, QModelIndex(), 0));
    QTRY_COMPARE(saved.count(), 2);
    QVERIFY(ReadAll(m_path).startsWith("/v/3.mp4|"));
    rig.model.RemoveRow(0);
    QTRY_COMPARE(saved.count(), 3);
    QVERIFY(!ReadAll(m_path).contains("/v/3.mp4"));
    rig.model.SetField(0, C::ColHeaders, QStringLiteral("Referer: x"));
    QTRY_COMPARE(saved.count(), 4);
    QVERIFY(ReadAll(m_path).contains(QByteArray("Referer: x").toBase64()));
    rig.model.Clear();
    QTRY_COMPARE(saved.count(), 5);
    QVERIFY(!QFile::exists(m_path));
    QVERIFY(saved.at(4).at(0).toBool());
}

void TestTaskStore::blocked_saver_never_touches_the_file() {
    QVERIFY(MakeUnreadable(m_path, QStringLiteral("socket")));
    Rig rig;
    TaskListSaver saver(&rig.model, m_path);
    saver.SetDelay(10);
    saver.SetBlocked(true);
    rig.scheduler.AddM3u8Task(QStringLiteral("http://h/1.m3u8"), QStringLiteral("/v/1.mp4"),
                              QString());
    QVERIFY(!saver.IsPending());
    QVERIFY(!saver.SaveNow());
    rig.model.Clear();
    QVERIFY(!saver.SaveNow());
    QTest::qWait(50);
    QVERIFY(QFileInfo(m_path).exists() && !QFileInfo(m_path).isFile());
}

QTEST_GUILESS_MAIN(TestTaskStore)
#include "tst_taskstore.moc"
