// The settings keys: defaults of a missing file, the value rules, the save order and the exit
// writing, and the proxy address handed to the download engine.
#include "app/config/IniFile.h"
#include "app/config/Settings.h"
#include "hls/M3u8Helpers.h"
#include "hls/TM3u8Class.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestSettings : public QObject {
    Q_OBJECT

    void WriteIni(const QByteArray &bytes) {
        QFile f(m_path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

private slots:
    void init() {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_path = m_dir->filePath("korvi.ini");
    }

    void no_file_gives_the_defaults() {
        IniFile ini(m_path);
        const SettingsValues v = ReadSettings(ini);
        QCOMPARE(v.pageIndex, 2);
        QCOMPARE(v.soundTips, true);
        QCOMPARE(v.balloonHint, true);
        QCOMPARE(v.limitTasks, 1u);
        QCOMPARE(v.noM3uPreName, false);
        QCOMPARE(v.recordLive, true);
        QCOMPARE(v.useProxy, false);
        QCOMPARE(v.proxyType, 0);
        QCOMPARE(ProxyTypeText(v.proxyType), QString("http"));
        QVERIFY(v.proxyHost.isEmpty() && v.proxyPort.isEmpty());
        QVERIFY(v.proxyUser.isEmpty() && v.proxyPwd.isEmpty());
        QVERIFY(v.version.isEmpty() && v.m3u8Url.isEmpty() && v.m3u8Out.isEmpty());
        QVERIFY(!QFile::exists(m_path));
    }

    void apply_sets_program_values_and_proxy() {
        SoundTips = BalloonHint = NoM3uPreName = ProxyEnabled = false;
        LimitTasks = 4;
        ProxyString = "stale";
        IniFile ini(m_path);
        ApplySettings(ReadSettings(ini));
        QCOMPARE(SoundTips, true);
        QCOMPARE(BalloonHint, true);
        QCOMPARE(NoM3uPreName, false);
        QCOMPARE(LimitTasks, 1u);
        QCOMPARE(ProxyEnabled, false);
        QCOMPARE(ProxyString, QString());

        WriteIni(
            "[Proxy]\nUseProxy=true\nProxyType=1\nProxyHost= 127.0.0.1 \nProxyPort=3128\n"
            "ProxyUser=u\nProxyPwd=p\n");
        ApplySettings(ReadSettings(ini));
        QCOMPARE(ProxyEnabled, true);
        QCOMPARE(ProxyString, QString("https://u:p@127.0.0.1:3128"));
    }

    void boolean_keys_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("expected");
        QTest::newRow("TRUE") << QByteArray("TRUE") << true;
        QTest::newRow("True") << QByteArray("True") << true;
        QTest::newRow("true") << QByteArray("true") << true;
        QTest::newRow("1") << QByteArray("1") << false;
        QTest::newRow("yes") << QByteArray("yes") << false;
        QTest::newRow("empty") << QByteArray("") << false;
    }
    void boolean_keys() {
        QFETCH(QByteArray, stored);
        QFETCH(bool, expected);
        WriteIni("[Options]\nSoundTips=" + stored + "\nBalloonHint=" + stored + "\nNoM3uPreName=" +
                 stored + "\nRecordLive=" + stored + "\n[Proxy]\nUseProxy=" + stored + "\n");
        const SettingsValues v = ReadSettings(IniFile(m_path));
        QCOMPARE(v.soundTips, expected);
        QCOMPARE(v.balloonHint, expected);
        QCOMPARE(v.noM3uPreName, expected);
        QCOMPARE(v.recordLive, expected);
        QCOMPARE(v.useProxy, expected);
    }

    void limit_tasks_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<unsigned>("expected");
        QTest::newRow("0") << QByteArray("0") << 1u;
        QTest::newRow("7") << QByteArray("7") << 1u;
        QTest::newRow("-3") << QByteArray("-3") << 1u;
        QTest::newRow("x") << QByteArray("x") << 1u;
        QTest::newRow("empty") << QByteArray("") << 1u;
        QTest::newRow("1") << QByteArray("1") << 1u;
        QTest::newRow("3") << QByteArray("3") << 3u;
        QTest::newRow("5") << QByteArray("5") << 5u;
        QTest::newRow("6") << QByteArray("6") << 1u;
    }
    void limit_tasks() {
        QFETCH(QByteArray, stored);
        QFETCH(unsigned, expected);
        WriteIni("[Options]\nLimitTasks=" + stored + "\n");
        QCOMPARE(ReadSettings(IniFile(m_path)).limitTasks, expected);
    }

    void variant_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("first") << QByteArray("first") << int(VariantChoice::First);
        QTest::newRow("highest") << QByteArray("highest") << int(VariantChoice::Highest);
        QTest::newRow("any case") << QByteArray("Lowest") << int(VariantChoice::Lowest);
        QTest::newRow("unknown") << QByteArray("best") << int(VariantChoice::First);
        QTest::newRow("empty") << QByteArray("") << int(VariantChoice::First);
    }
    void variant() {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        WriteIni("[Options]\nVariant=" + stored + "\n");
        QCOMPARE(int(ReadSettings(IniFile(m_path)).variant), expected);
    }

    void segment_jobs_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("missing") << QByteArray() << 16;
        QTest::newRow("0") << QByteArray("0") << 16;
        QTest::newRow("33") << QByteArray("33") << 16;
        QTest::newRow("x") << QByteArray("x") << 16;
        QTest::newRow("1") << QByteArray("1") << 1;
        QTest::newRow("32") << QByteArray("32") << 32;
    }
    void segment_jobs() {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        WriteIni(stored.isNull() ? QByteArray("[Options]\n")
                                 : "[Options]\nSegmentJobs=" + stored + "\n");
        const SettingsValues v = ReadSettings(IniFile(m_path));
        QCOMPARE(v.segmentJobs, expected);
        ApplySettings(v);
        QCOMPARE(SegmentConcurrency, expected);
    }

    void page_index_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("0") << QByteArray("0") << 0;
        QTest::newRow("3") << QByteArray("3") << 3;
        QTest::newRow("4") << QByteArray("4") << 0;
        QTest::newRow("6") << QByteArray("6") << 2;
        QTest::newRow("-1") << QByteArray("-1") << 3;
        QTest::newRow("x") << QByteArray("x") << 2;
        QTest::newRow("empty") << QByteArray("") << 2;
    }
    void page_index() {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        WriteIni("[Options]\nPageIndex=" + stored + "\n");
        QCOMPARE(ReadSettings(IniFile(m_path)).pageIndex, expected);
    }

    void proxy_type_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << QByteArray("0") << 0 << "http";
        QTest::newRow("1") << QByteArray("1") << 1 << "https";
        QTest::newRow("2") << QByteArray("2") << 2 << "ftp";
        QTest::newRow("3") << QByteArray("3") << -1 << "";
        QTest::newRow("-1") << QByteArray("-1") << -1 << "";
        QTest::newRow("x") << QByteArray("x") << 0 << "http";
    }
    void proxy_type() {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        QFETCH(QString, text);
        WriteIni("[Proxy]\nProxyType=" + stored + "\n");
        const int index = ReadSettings(IniFile(m_path)).proxyType;
        QCOMPARE(index, expected);
        QCOMPARE(ProxyTypeText(index), text);
    }

    void build_proxy_string_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("pwd");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "http"
                               << "H"
                               << "8080"
                               << ""
                               << ""
                               << "http://H:8080";
        QTest::newRow("credentials") << "https"
                                     << "h"
                                     << "1"
                                     << "u"
                                     << "p"
                                     << "https://u:p@h:1";
        QTest::newRow("user only") << "https"
                                   << "host"
                                   << "443"
                                   << "me"
                                   << ""
                                   << "https://host:443";
        QTest::newRow("password only") << "ftp"
                                       << "host"
                                       << "21"
                                       << ""
                                       << "pw"
                                       << "ftp://host:21";
        QTest::newRow("blanks trimmed") << " http "
                                        << " host "
                                        << " 80 "
                                        << " u "
                                        << " p "
                                        << "http://u:p@host:80";
        QTest::newRow("blank user") << "http"
                                    << "h"
                                    << "80"
                                    << "   "
                                    << "p"
                                    << "http://h:80";
        QTest::newRow("no type") << ""
                                 << "h"
                                 << "80"
                                 << "u"
                                 << "p"
                                 << "";
        QTest::newRow("no host") << "http"
                                 << " "
                                 << "80"
                                 << ""
                                 << ""
                                 << "";
        QTest::newRow("no port") << "http"
                                 << "h"
                                 << ""
                                 << ""
                                 << ""
                                 << "";
        QTest::newRow("credentials percent-encoded") << "http"
                                                     << "h"
                                                     << "80"
                                                     << "a@b"
                                                     << "p:w/#%"
                                                     << "http://a%40b:p%3Aw%2F%23%25@h:80";
        QTest::newRow("plain credentials unchanged") << "http"
                                                     << "h"
                                                     << "80"
                                                     << "user_1.x-y~"
                                                     << "Secret9"
                                                     << "http://user_1.x-y~:Secret9@h:80";
    }
    void build_proxy_string() {
        QFETCH(QString, type);
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, user);
        QFETCH(QString, pwd);
        QFETCH(QString, expected);
        QCOMPARE(BuildProxyString(type, host, port, user, pwd), expected);
    }

    void save_writes_applies_and_reads_back() {
        IniFile ini(m_path);
        SettingsValues page;
        page.soundTips = false;
        page.balloonHint = true;
        page.limitTasks = 3;
        page.noM3uPreName = true;
        page.recordLive = false;
        page.useProxy = true;
        page.proxyType = 1;
        page.proxyHost = " proxy.local ";
        page.proxyPort = "8443";
        page.proxyUser = "alice";
        page.proxyPwd = "";
        SaveSettings(ini, page, nullptr);
        QCOMPARE(SoundTips, false);
        QCOMPARE(BalloonHint, true);
        QCOMPARE(LimitTasks, 3u);
        QCOMPARE(NoM3uPreName, true);
        QCOMPARE(TM3u8::RecordLive(), false);
        QCOMPARE(ProxyEnabled, true);
        // Only a user name: credentials are left out.
        QCOMPARE(ProxyString, QString("https://proxy.local:8443"));

        const SettingsValues back = ReadSettings(IniFile(m_path));
        QCOMPARE(back.soundTips, false);
        QCOMPARE(back.limitTasks, 3u);
        QCOMPARE(back.noM3uPreName, true);
        QCOMPARE(back.recordLive, false);
        QCOMPARE(back.useProxy, true);
        QCOMPARE(back.proxyType, 1);
        // Blanks around a value do not survive an INI line, as with the private-profile
        // functions; everything between them does.
        QCOMPARE(back.proxyHost, QString("proxy.local"));
        QCOMPARE(back.proxyUser, QString("alice"));
        QCOMPARE(ini.ReadString("Options", "SoundTips", ""), QString("False"));
        QCOMPARE(ini.ReadString("Options", "BalloonHint", ""), QString("True"));
    }

    void save_without_proxy_type_writes_minus_one() {
        IniFile ini(m_path);
        SettingsValues page;
        page.proxyType = -1;
        page.proxyHost = "h";
        page.proxyPort = "1";
        SaveSettings(ini, page, nullptr);
        QCOMPARE(ini.ReadString("Proxy", "ProxyType", ""), QString("-1"));
        QCOMPARE(ProxyString, QString());
        QCOMPARE(ReadSettings(ini).proxyType, -1);
    }

    void fill_seam_runs_after_task_options_and_before_proxy() {
        IniFile ini(m_path);
        SettingsValues page;
        page.limitTasks = 3;
        page.useProxy = true;
        page.proxyHost = "127.0.0.1";
        page.proxyPort = "9";
        ProxyEnabled = false;
        LimitTasks = 1;
        int calls = 0;
        SaveSettings(ini, page, [&] {
            ++calls;
            QCOMPARE(LimitTasks, 3u);
            QCOMPARE(ini.ReadString("Options", "NoM3uPreName", ""), QString("False"));
            QCOMPARE(ProxyEnabled, false);
            QCOMPARE(ini.ReadString("Proxy", "UseProxy", "absent"), QString("absent"));
        });
        QCOMPARE(calls, 1);
        QCOMPARE(ProxyEnabled, true);
    }

    void special_values_survive_save_and_load() {
        const QString tricky = "a,b;c=d\"e\" 中文密码";
        IniFile ini(m_path);
        SettingsValues page;
        page.proxyHost = tricky;
        page.proxyPort = tricky;
        page.proxyUser = tricky;
        page.proxyPwd = tricky;
        SaveSettings(ini, page, nullptr);
        WriteExitSettings(ini, "1.0.0", "http://127.0.0.1/?a=1,b=2;\"x\"", tricky, 3);
        const SettingsValues back = ReadSettings(IniFile(m_path));
        QCOMPARE(back.proxyHost, tricky);
        QCOMPARE(back.proxyPort, tricky);
        QCOMPARE(back.proxyUser, tricky);
        QCOMPARE(back.proxyPwd, tricky);
        QCOMPARE(back.m3u8Url, QString("http://127.0.0.1/?a=1,b=2;\"x\""));
        QCOMPARE(back.m3u8Out, tricky);
    }

    void exit_writing_feeds_the_next_start() {
        IniFile ini(m_path);
        WriteExitSettings(ini, "1.2.3", "http://127.0.0.1/a.m3u8", "/tmp/西游记.mp4", 1);
        const SettingsValues v = ReadSettings(IniFile(m_path));
        QCOMPARE(v.version, QString("1.2.3"));
        QCOMPARE(v.m3u8Url, QString("http://127.0.0.1/a.m3u8"));
        QCOMPARE(v.m3u8Out, QString("/tmp/西游记.mp4"));
        QCOMPARE(v.pageIndex, 1);
        // The exit writes only history; the options keep their defaults.
        QCOMPARE(ini.ReadString("Options", "SoundTips", "absent"), QString("absent"));
    }

    void save_keeps_other_sections_and_comments() {
        WriteIni(
            "; my notes\n[Options]\nSoundTips=True\n; about the page\nPageIndex=1\n"
            "[Tools]\nPlayer=mpv --fs\n");
        IniFile ini(m_path);
        SaveSettings(ini, SettingsValues(), nullptr);
        QFile f(m_path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY2(bytes.contains("; my notes") && bytes.contains("; about the page"), bytes);
        QCOMPARE(ini.ReadString("Tools", "Player", ""), QString("mpv --fs"));
        QCOMPARE(ini.ReadInteger("Options", "PageIndex", -1), 1);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
