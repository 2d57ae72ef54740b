#include "app/AppMain.h"

#include "app/ExitSignals.h"
#include "app/OneApp.h"

#include <QApplication>
#include <QTimer>

#include <memory>

int RunKorvi(QApplication &app, const MainWindowSeams &seams,
             const std::function<void(TfrmMain &)> &started, ExitSignalWatcher *exitSignals) {
    std::unique_ptr<ExitSignalWatcher> ownSignals;
    if (!exitSignals) {
        ownSignals = std::make_unique<ExitSignalWatcher>();
        exitSignals = ownSignals.get();
    }
    TfrmMain window(seams);
    SetActivateInstanceHandler([&window] { window.WMActivateInstance(); });
    SetOpenFilesHandler([&window](const QStringList &files) { window.OpenFiles(files); });
    QObject::connect(exitSignals, &ExitSignalWatcher::ExitRequested, &window,
                     &TfrmMain::ExitFromSignal);
    // Closing a hidden window does not end the loop by itself.
    QObject::connect(&window, &TfrmMain::Closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    if (started)
        QTimer::singleShot(0, &window, [&window, started] { started(window); });
    const int result = app.exec();
    SetActivateInstanceHandler(nullptr);
    SetOpenFilesHandler(nullptr);
    return result;
}
