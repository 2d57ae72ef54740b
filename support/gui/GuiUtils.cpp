#include "support/gui/GuiUtils.h"

#include "support/ProcessUtils.h"
#include "support/gui/RunWindow.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFontDatabase>
#include <QUrl>

namespace {

QString AskWithDialog(QWidget *owner, const QString &title) {
    return QFileDialog::getExistingDirectory(owner, title);
}

FolderChooser g_folderChooser = AskWithDialog;

void OpenWithDesktop(const QString &path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace

void SetFolderChooser(FolderChooser chooser) {
    g_folderChooser = chooser ? chooser : AskWithDialog;
}

bool SelectFolder(QWidget *owner, QString &folder, const QString &title) {
    const QString caption = title.isEmpty() ? QStringLiteral("选择保存位置") : title;
    QString chosen = g_folderChooser(owner, caption);
    if (chosen.isEmpty()) {
        folder.clear();
        return false;
    }
    if (!chosen.endsWith(QLatin1Char('/')))
        chosen += QLatin1Char('/');
    folder = chosen;
    return true;
}

bool IsFontInstalled(const QString &family) {
    const QStringList families = QFontDatabase::families();
    for (const QString &installed : families) {
        if (installed.compare(family, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void InstallGuiSupport() {
    SetShellOpener(OpenWithDesktop);
    InstallRunWindow();
}
