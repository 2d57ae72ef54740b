// The notices: the completion sound and its dropping rule, the balloon texts and switches, the
// progress value, and the launcher progress over a private session bus.
#include "PrivateBus.h"
#include "app/config/Settings.h"
#include "app/notify/Notices.h"
#include "app/notify/ProgressNotice.h"
#include "app/notify/SoundPlayer.h"
#include "app/notify/Taskbar.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFile>
#include <QProgressBar>
#include <QtTest>

namespace {

struct Notice {
    QString kind;
    QString title;
    QString text;
    int timeoutMs;
};

class RecordingSink : public NoticeSink {
public:
    void ShowBalloon(const QString &title, const QString &text, int timeoutMs) override {
        notices.append({"balloon", title, text, timeoutMs});
    }
    void PlaySound(const QString &resType, const QString &resName) override {
        notices.append({"sound", resType, resName, 0});
    }
    QList<Notice> notices;
};

}  // namespace

// Receives the launcher entry's Update signal on a second connection to the same bus.
class LauncherListener : public QObject {
    Q_OBJECT

public:
    QList<QPair<QString, QVariantMap>> updates;

public slots:
    void Update(const QString &appUri, const QVariantMap &properties) {
        updates.append({appUri, properties});
    }
};

class TestNotices : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_now = 0;
        SetSoundClock([this] { return m_now; });
        m_sink.notices.clear();
        SetNoticeSink(&m_sink);
        ResetBalloonTimeout();
        SoundTips = true;
        BalloonHint = true;
    }
    void cleanup() {
        SetNoticeSink(nullptr);
        SetSoundClock(nullptr);
    }

    void done_sound_is_a_pcm_wav_in_the_resources() {
        ::PlayResSound("WAVE", "NONE", false);  // loads the library's resources
        QFile wav(SoundResourcePath("WAVE", "DONE"));
        QVERIFY2(wav.open(QIODevice::ReadOnly), qPrintable(wav.fileName()));
        const qint64 length = WavDurationMs(wav.readAll());
        QVERIFY2(length >= 200 && length <= 2000, qPrintable(QString::number(length)));
    }

    void wav_duration_rejects_other_data() {
        QCOMPARE(WavDurationMs(QByteArray()), qint64(-1));
        QCOMPARE(WavDurationMs("RIFF\0\0\0\0AVI LIST"), qint64(-1));
        QCOMPARE(WavDurationMs(QByteArray(64, 'x')), qint64(-1));
    }

    void second_sound_while_one_plays_is_dropped() {
        QVERIFY(PlayResSound("WAVE", "DONE", false));
        m_now += 100;
        QVERIFY(!PlayResSound("WAVE", "DONE", false));
        m_now += 300;
        QVERIFY(!PlayResSound("WAVE", "DONE", false));
        // Once the first has had its length, a new one plays.
        m_now += 2000;
        QVERIFY(PlayResSound("WAVE", "DONE", false));
    }

    void missing_sound_plays_nothing() {
        QVERIFY(!PlayResSound("WAVE", "NOSUCH", false));
        QVERIFY(!PlayResSound("TXT", "DONE", false));
        // A missing sound does not block the real one.
        QVERIFY(PlayResSound("WAVE", "DONE", false));
    }

    void finished_task_by_switches_data() {
        QTest::addColumn<bool>("balloon");
        QTest::addColumn<bool>("sound");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("both") << true << true << QStringList{"balloon", "sound"};
        QTest::newRow("sound only") << false << true << QStringList{"sound"};
        QTest::newRow("balloon only") << true << false << QStringList{"balloon"};
        QTest::newRow("neither") << false << false << QStringList{};
    }
    void finished_task_by_switches() {
        QFETCH(bool, balloon);
        QFETCH(bool, sound);
        QFETCH(QStringList, expected);
        BalloonHint = balloon;
        SoundTips = sound;
        NoticeTaskFinished("/data/videos/西游记第01集.mp4");
        NoticeDoneSound();
        QStringList kinds;
        for (const Notice &n : m_sink.notices) {
            kinds << n.kind;
        }
        QCOMPARE(kinds, expected);
        if (balloon) {
            QCOMPARE(m_sink.notices.first().title, QString("任务完成"));
            QCOMPARE(m_sink.notices.first().text, QString("西游记第01集.mp4"));
            QCOMPARE(m_sink.notices.first().timeoutMs, 3000);
        }
        if (sound) {
            QCOMPARE(m_sink.notices.last().title, QString("WAVE"));
            QCOMPARE(m_sink.notices.last().text, QString("DONE"));
        }
    }

    void balloon_texts_and_times() {
        NoticeTaskError("/tmp/out/a.mp4", "下载失败");
        NoticeJoinFinished("/tmp/out/joined.mp4");
        NoticeTranscodeFileDone("b-new.mp4");
        NoticeTranscodeAllDone(3, 1);
        QCOMPARE(m_sink.notices.size(), 4);
        QCOMPARE(m_sink.notices[0].title, QString("任务出错"));
        QCOMPARE(m_sink.notices[0].text, QString("a.mp4\n下载失败"));
        QCOMPARE(m_sink.notices[0].timeoutMs, 3000);
        QCOMPARE(m_sink.notices[1].title, QString("视频合并完成"));
        QCOMPARE(m_sink.notices[1].text, QString("/tmp/out/joined.mp4"));
        QCOMPARE(m_sink.notices[1].timeoutMs, 5000);
        QCOMPARE(m_sink.notices[2].title, QString("转码完成"));
        QCOMPARE(m_sink.notices[2].timeoutMs, 1000);
        QCOMPARE(m_sink.notices[3].title, QString("所有转码任务完成"));
        QCOMPARE(m_sink.notices[3].text, QString("成功 3 个\n失败 1 个"));
        // It sets no display time of its own: the last one set holds.
        QCOMPARE(m_sink.notices[3].timeoutMs, 1000);
    }

    void balloon_off_shows_no_balloon() {
        BalloonHint = false;
        NoticeTaskError("/tmp/a.mp4", "x");
        NoticeTaskFinished("/tmp/a.mp4");
        NoticeJoinFinished("/tmp/a.mp4");
        NoticeTranscodeFileDone("a");
        NoticeTranscodeAllDone(1, 0);
        QCOMPARE(m_sink.notices.size(), 0);
    }

    void show_progress_data() {
        QTest::addColumn<unsigned>("percent");
        QTest::addColumn<unsigned>("shown");
        QTest::newRow("0") << 0u << 0u;
        QTest::newRow("42") << 42u << 42u;
        QTest::newRow("100") << 100u << 100u;
        QTest::newRow("101") << 101u << 0u;
        QTest::newRow("250") << 250u << 48u;
    }
    void show_progress() {
        QFETCH(unsigned, percent);
        QFETCH(unsigned, shown);
        QProgressBar bar;
        bar.setRange(0, 100);
        bar.setValue(7);
        QCOMPARE(ShowProgressOn(&bar, percent), shown);
        QCOMPARE(bar.value(), int(shown));
    }

    void launcher_progress_without_bus_reports_false() {
        const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/korvi-no-bus");
        ReleaseTaskbarList();
        QVERIFY(!InitTaskbarList());
        QVERIFY(!TaskbarSetProgress(100, 50));
        // The bar still moves.
        QProgressBar bar;
        QCOMPARE(ShowProgressOn(&bar, 30), 30u);
        QCOMPARE(bar.value(), 30);
        qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
    }

    void launcher_progress_reaches_the_session_bus() {
        PrivateBus bus;
        if (!bus.IsRunning()) {
            QSKIP("dbus-daemon could not be started");
        }
        const QByteArray address = bus.Address().toUtf8();
        LauncherListener listener;
        {
            QDBusConnection listenerBus =
                QDBusConnection::connectToBus(QString::fromUtf8(address), "test-listener");
            QVERIFY(listenerBus.isConnected());
            QVERIFY(listenerBus.connect(QString(), QString(), "com.canonical.Unity.LauncherEntry",
                                        "Update", &listener, SLOT(Update(QString, QVariantMap))));
            ReleaseTaskbarList();
            QVERIFY(InitTaskbarList());
            QVERIFY(InitTaskbarList());  // once held, kept
            QProgressBar bar;
            QCOMPARE(ShowProgressOn(&bar, 250), 48u);
            QTRY_COMPARE_WITH_TIMEOUT(listener.updates.size(), 1, 5000);
            QCOMPARE(listener.updates[0].first, QString("application://korvi.desktop"));
            QCOMPARE(listener.updates[0].second.value("progress").toDouble(), 0.48);
            QCOMPARE(listener.updates[0].second.value("progress-visible").toBool(), true);
            QVERIFY(TaskbarSetProgress(0, 0));
            QTRY_COMPARE_WITH_TIMEOUT(listener.updates.size(), 2, 5000);
            QCOMPARE(listener.updates[1].second.value("progress-visible").toBool(), false);
            ReleaseTaskbarList();
            QVERIFY(!TaskbarSetProgress(100, 10));
        }
        QDBusConnection::disconnectFromBus("test-listener");
    }

private:
    qint64 m_now = 0;
    RecordingSink m_sink;
};

QTEST_MAIN(TestNotices)
#include "tst_notices.moc"
