// Korvi's own run (RunKorvi: the window, the exit signals, the event loop) with a scripted user,
// for tests that need a real process whose window they cannot reach. It adds tasks through the
// M3U8 page's fields and buttons, may start them, puts the window in the state asked for, and
// prints "ready" once it has.
//
//   korvi_probe --ini PATH [--tray] [--state shown|minimised|hidden] [--start] [--stubborn]
//               [--exit-from-tray] [URL OUT]...

#include "app/AppMain.h"
#include "app/MessageService.h"
#include "app/notify/MainWindowTray.h"
#include "support/gui/GuiUtils.h"
#include "tasks/page/M3u8Page.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

// Boxes go to standard error, so nothing modal waits for a user.
class PrintedMessages : public MessageService {
public:
    void ShowError(QWidget *, const QString &, const QString &text) override { Print(text); }
    void ShowWarning(QWidget *, const QString &, const QString &text) override { Print(text); }
    void ShowInformation(QWidget *, const QString &, const QString &text) override { Print(text); }

private:
    static void Print(const QString &text) { std::fprintf(stderr, "box: %s\n", qPrintable(text)); }
};

// A download that never ends and ignores every stop request.
class StubbornTask : public DownloadTask {
public:
    bool Running() const override { return m_running; }
    qint32 TaskId() const override { return m_id; }
    void SetTaskId(qint32 id) override { m_id = id; }
    void SetUrl(const QString &) override {}
    void SetOutput(const QString &) override {}
    void SetHeaders(const QString &) override {}
    void SetEvents(const DownloadTaskEvents &) override {}
    void Start() override { m_running = true; }
    void Stop() override {}

private:
    bool m_running = false;
    qint32 m_id = 0;
};

void Ready() {
    std::printf("ready\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvi"));
    InstallGuiSupport();
    QStringList args = app.arguments().mid(1);
    MainWindowSeams seams;
    PrintedMessages messages;
    seams.messages = &messages;
    seams.isWin64 = [] { return true; };
    bool tray = false;
    bool start = false;
    bool stubborn = false;
    bool exitFromTray = false;
    QString state = QStringLiteral("shown");
    QStringList tasks;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (arg == QLatin1String("--ini") && !args.isEmpty())
            seams.iniPath = args.takeFirst();
        else if (arg == QLatin1String("--state") && !args.isEmpty())
            state = args.takeFirst();
        else if (arg == QLatin1String("--tray"))
            tray = true;
        else if (arg == QLatin1String("--start"))
            start = true;
        else if (arg == QLatin1String("--stubborn"))
            stubborn = true;
        else if (arg == QLatin1String("--exit-from-tray"))
            exitFromTray = true;
        else
            tasks << arg;
    }
    if (seams.iniPath.isEmpty() || tasks.size() % 2 != 0) {
        std::fprintf(stderr, "usage: korvi_probe --ini PATH [options] [URL OUT]...\n");
        return 2;
    }
    seams.trayAvailable = [tray] { return tray; };

    return RunKorvi(app, seams, [=](TfrmMain &window) {
        M3u8Page *page = window.M3u8();
        if (stubborn)
            page->SetTaskFactory([] { return std::make_unique<StubbornTask>(); });
        auto *url = page->findChild<QLineEdit *>(QStringLiteral("edtMUrl"));
        auto *out = page->findChild<QLineEdit *>(QStringLiteral("edtMPath"));
        auto *add = page->findChild<QPushButton *>(QStringLiteral("btnMAddTask"));
        for (int n = 0; n + 1 < tasks.size(); n += 2) {
            url->setText(tasks[n]);
            out->setText(tasks[n + 1]);
            add->click();
        }
        if (start)
            page->findChild<QPushButton *>(QStringLiteral("btnMStartTask"))->click();
        if (state == QLatin1String("minimised"))
            window.showMinimized();
        else if (state == QLatin1String("hidden"))
            window.Tray()->mniHiWindowClick();
        // Let the tray settle the window's state before the user goes on.
        QTimer::singleShot(300, &window, [&window, exitFromTray] {
            Ready();
            if (exitFromTray)
                window.Tray()->mniExitApp()->trigger();
        });
    });
}
