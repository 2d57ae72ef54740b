#pragma once
// Support functions that need the GUI: the folder chooser and the font test.

#include <QString>

class QWidget;

// Asks for a folder. True and the folder ending in '/' ('/' itself stays '/'), or false and an
// empty `folder` on cancel. An empty title becomes "选择保存位置".
bool SelectFolder(QWidget *owner, QString &folder, const QString &title = QString());

// What asks the user for a folder: returns the chosen folder, or empty on cancel. Tests install
// their own so no modal dialog ever blocks them; nullptr restores the folder dialog.
using FolderChooser = QString (*)(QWidget *owner, const QString &title);
void SetFolderChooser(FolderChooser chooser);

bool IsFontInstalled(const QString &family);

// Installs QDesktopServices as the shell opener and the console window for show code 7.
void InstallGuiSupport();
