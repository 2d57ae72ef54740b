// Program entry: one copy per user; a later start hands over to the running copy and exits.

#include "app/AppMain.h"
#include "app/AppTitle.h"
#include "app/ExitSignals.h"
#include "app/OneApp.h"
#include "support/gui/GuiUtils.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
    InstallGuiSupport();
    // Before anything else: a signal during start-up, once the handshake has begun, still ends
    // the program through its exit path.
    ExitSignalWatcher exitSignals;
    // Playlists from a file manager or the command line; the running copy has its own working
    // folder, so paths go over as absolute ones.
    const QStringList files = CommandLineAddresses(QApplication::arguments().mid(1));
    if (IsAlreadyRunning(files)) {
        return 0;
    }
    return RunKorvi(
        app, {}, [files](TfrmMain &window) { window.OpenFiles(files); }, &exitSignals);
}
