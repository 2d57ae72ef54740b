// The settings file: where it lives, what a write leaves on disk, and that values come back
// exactly as they were written.
#include "TestTools.h"
#include "app/config/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <memory>

namespace {

QByteArray ReadAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

}  // namespace

class TestIniFile : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_path = m_dir->filePath("korvi.ini");
    }

    void missing_file_gives_defaults_and_creates_nothing() {
        IniFile ini(m_path);
        QCOMPARE(ini.ReadString("Options", "Version", "none"), QString("none"));
        QCOMPARE(ini.ReadBool("Options", "SoundTips", true), true);
        QCOMPARE(ini.ReadBool("Options", "SoundTips", false), false);
        QCOMPARE(ini.ReadInteger("Options", "PageIndex", 2), 2);
        QVERIFY(!QFile::exists(m_path));
    }

    void each_write_reaches_the_disk_at_once() {
        IniFile ini(m_path);
        QVERIFY(ini.WriteString("History", "M3u8Url", "http://127.0.0.1/a.m3u8"));
        QVERIFY(ReadAll(m_path).contains("M3u8Url=http://127.0.0.1/a.m3u8"));
        // A second object on the same file sees it without any flush or close.
        IniFile other(m_path);
        QCOMPARE(other.ReadString("History", "M3u8Url", ""), QString("http://127.0.0.1/a.m3u8"));
        QVERIFY(other.WriteString("History", "M3u8Out", "/tmp/x.mp4"));
        QCOMPARE(ini.ReadString("History", "M3u8Out", ""), QString("/tmp/x.mp4"));
    }

    void values_come_back_unchanged_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("comma") << "a,b,c";
        QTest::newRow("semicolon") << "x;y ; z";
        QTest::newRow("equals") << "k=v=w";
        QTest::newRow("quotes") << "\"quoted\" and \"half";
        QTest::newRow("chinese") << "代理服务器 用户名";
        QTest::newRow("everything") << "p@ss,w;o=r\"d 密码";
        QTest::newRow("hash") << "#not a comment";
        QTest::newRow("brackets") << "[Options]";
        QTest::newRow("backslash") << "C:\\tmp\\n\\t";
        QTest::newRow("percent") << "%HOME% $HOME";
        QTest::newRow("empty") << "";
    }
    void values_come_back_unchanged() {
        QFETCH(QString, value);
        {
            IniFile ini(m_path);
            QVERIFY(ini.WriteString("Proxy", "ProxyPwd", value));
            QVERIFY(ini.WriteString("Proxy", "ProxyUser", "after"));
        }
        IniFile ini(m_path);
        QCOMPARE(ini.ReadString("Proxy", "ProxyPwd", "missing"), value);
        QCOMPARE(ini.ReadString("Proxy", "ProxyUser", "missing"), QString("after"));
    }

    void stored_as_utf8_without_escaping() {
        IniFile ini(m_path);
        QVERIFY(ini.WriteString("History", "M3u8Out", "西游记,第01集;\"x\"=1"));
        const QByteArray bytes = ReadAll(m_path);
        QVERIFY2(bytes.contains(QString("M3u8Out=西游记,第01集;\"x\"=1").toUtf8()), bytes);
        QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    }

    void line_break_in_a_value_cannot_add_a_key() {
        IniFile ini(m_path);
        QVERIFY(ini.WriteString("History", "M3u8Url", "http://h/a\r\n[Proxy]\nUseProxy=True"));
        QCOMPARE(ini.ReadString("Proxy", "UseProxy", "absent"), QString("absent"));
        QCOMPARE(ini.ReadString("History", "M3u8Url", ""),
                 QString("http://h/a [Proxy] UseProxy=True"));
    }

    void names_match_without_regard_to_case() {
        WriteAll(m_path, "[options]\r\nsoundtips=FALSE\r\n");
        IniFile ini(m_path);
        QCOMPARE(ini.ReadBool("Options", "SoundTips", true), false);
        QVERIFY(ini.WriteBool("OPTIONS", "SOUNDTIPS", true));
        QCOMPARE(ini.ReadString("Options", "SoundTips", ""), QString("True"));
        // One key, not two spellings of it.
        QCOMPARE(ReadAll(m_path).toLower().count("soundtips"), 1);
    }

    void booleans_written_as_True_and_False() {
        IniFile ini(m_path);
        QVERIFY(ini.WriteBool("Options", "A", true));
        QVERIFY(ini.WriteBool("Options", "B", false));
        const QByteArray bytes = ReadAll(m_path);
        QVERIFY2(bytes.contains("A=True") && bytes.contains("B=False"), bytes);
    }

    void integer_that_is_no_number_gives_default() {
        WriteAll(m_path, "[Options]\nLimitTasks=x\nPageIndex=3\nEmpty=\n");
        IniFile ini(m_path);
        QCOMPARE(ini.ReadInteger("Options", "LimitTasks", 1), 1);
        QCOMPARE(ini.ReadInteger("Options", "PageIndex", 2), 3);
        QCOMPARE(ini.ReadInteger("Options", "Empty", 7), 7);
    }

    void hand_edits_and_comments_survive_a_write() {
        WriteAll(m_path,
                 "; settings of Korvi, edited by hand\r\n"
                 "[Options]\r\n"
                 "; keep the sound on\r\n"
                 "SoundTips=True\r\n"
                 "\r\n"
                 "[MyOwn]\r\n"
                 "# another comment\r\n"
                 "Colour=blue, green\r\n");
        IniFile ini(m_path);
        QVERIFY(ini.WriteString("Options", "SoundTips", "False"));
        QVERIFY(ini.WriteString("Proxy", "ProxyHost", "127.0.0.1"));
        const QByteArray bytes = ReadAll(m_path);
        QVERIFY2(bytes.contains("; settings of Korvi, edited by hand"), bytes);
        QVERIFY2(bytes.contains("; keep the sound on"), bytes);
        QVERIFY2(bytes.contains("# another comment"), bytes);
        QCOMPARE(ini.ReadString("MyOwn", "Colour", ""), QString("blue, green"));
        QCOMPARE(ini.ReadString("Options", "SoundTips", ""), QString("False"));
        QCOMPARE(ini.ReadString("Proxy", "ProxyHost", ""), QString("127.0.0.1"));
    }

    void gbk_value_written_elsewhere_is_read_as_gbk() {
        // "代理" in GBK.
        WriteAll(m_path, QByteArray("[Proxy]\nProxyUser=\xB4\xFA\xC0\xED\n"));
        IniFile ini(m_path);
        QCOMPARE(ini.ReadString("Proxy", "ProxyUser", ""), QString("代理"));
    }

    void created_for_the_owner_only() {
        IniFile ini(m_path);
        QVERIFY(ini.WriteString("Proxy", "ProxyPwd", "secret"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(m_path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
    }

    void write_leaves_no_temporary_file() {
        IniFile ini(m_path);
        for (int i = 0; i < 5; ++i) {
            QVERIFY(ini.WriteInteger("Options", "PageIndex", i));
        }
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"korvi.ini"});
    }

    void write_into_missing_folder_creates_it() {
        const QString nested = m_dir->filePath("cfg/Korvi/korvi.ini");
        IniFile ini(nested);
        QVERIFY(ini.WriteString("Options", "Version", "1.0.0"));
        QCOMPARE(IniFile(nested).ReadString("Options", "Version", ""), QString("1.0.0"));
    }

    void write_that_cannot_reach_disk_reports_false_and_keeps_old_file() {
        WriteAll(m_path, "[Options]\nVersion=0.9\n");
        // A folder where the file would be: nothing can be written.
        const QString blocked = m_dir->filePath("blocked.ini");
        QVERIFY(QDir().mkpath(blocked));
        IniFile bad(blocked);
        QVERIFY(!bad.WriteString("Options", "Version", "1.0"));
        QCOMPARE(IniFile(m_path).ReadString("Options", "Version", ""), QString("0.9"));
    }

    void lives_beside_a_writable_program() {
        const QString program = m_dir->filePath("bin/korvi");
        QVERIFY(QDir().mkpath(m_dir->filePath("bin")));
        QCOMPARE(IniFile::LocationFor(program, m_dir->filePath("config")),
                 m_dir->filePath("bin/korvi.ini"));
        QCOMPARE(IniFile::LocationFor(m_dir->filePath("bin/korvi.exe"), m_dir->filePath("c")),
                 m_dir->filePath("bin/korvi.ini"));
    }

    void falls_back_to_config_home_when_program_folder_is_not_writable() {
        const QString config = m_dir->filePath("config");
        // A folder that does not exist cannot be written by anyone, root included.
        QCOMPARE(IniFile::LocationFor(m_dir->filePath("gone/korvi"), config),
                 config + "/Korvi/korvi.ini");
        // /proc is read-only for everyone.
        QCOMPARE(IniFile::LocationFor("/proc/korvi", config), config + "/Korvi/korvi.ini");
    }

    void unreadable_file_is_never_written() {
        QVERIFY(TestTools::MakeSocketFile(m_path));
        IniFile ini(m_path);
        QVERIFY(!ini.Unreadable());
        QCOMPARE(ini.ReadInteger("Options", "LimitTasks", 1), 1);
        QVERIFY(ini.Unreadable());
        QVERIFY(!ini.WriteString("History", "M3u8Url", "http://h/a.m3u8"));
        QVERIFY(!ini.WriteInteger("Options", "PageIndex", 2));
        QVERIFY(QFileInfo::exists(m_path) && !QFileInfo(m_path).isFile());
        // A file that reads fine is not marked, a missing one neither.
        IniFile fresh(m_dir->filePath("other.ini"));
        QVERIFY(fresh.WriteString("Options", "Version", "1.0.0"));
        QCOMPARE(fresh.ReadString("Options", "Version", ""), QString("1.0.0"));
        QVERIFY(!fresh.Unreadable());
    }

    void writable_file_in_a_folder_that_is_not_goes_to_config_home() {
        const QString bin = m_dir->filePath("bin");
        QVERIFY(QDir().mkpath(bin));
        WriteAll(bin + "/korvi.ini", "[Options]\nVersion=0.9\n");
        // An immutable folder: the file in it stays writable, no file can be made beside it.
        if (!TestTools::RunTool("chattr", {"+i", bin}, 10000)) {
            QSKIP("chattr +i is not available here");
        }
        const QString location = IniFile::LocationFor(bin + "/korvi", m_dir->filePath("config"));
        TestTools::RunTool("chattr", {"-i", bin}, 10000);
        QCOMPARE(location, m_dir->filePath("config") + "/Korvi/korvi.ini");
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
