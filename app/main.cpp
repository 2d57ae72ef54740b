// Program entry: one copy per user; a later start hands over to the running copy and exits.

#include "app/AppMain.h"
#include "app/AppTitle.h"
#include "app/OneApp.h"
#include "support/gui/GuiUtils.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
    InstallGuiSupport();
    if (IsAlreadyRunning()) {
        return 0;
    }
    return RunKorvi(app);
}
