#pragma once
// Progress on the program's launcher entry (the taskbar button), over the desktop's
// com.canonical.Unity.LauncherEntry service.

#include <QString>
#include <QtGlobal>

// The desktop file the launcher knows the program by.
inline constexpr char LauncherAppUri[] = "application://korvi.desktop";

// Connects to the session bus once; true while a connection is held. Without a session bus
// nothing is held and nothing is reported.
bool InitTaskbarList();
// Announces `completed` of `total` on the launcher entry; true when the message was sent,
// false without a connection.
bool TaskbarSetProgress(quint64 total, quint64 completed);
// Drops the connection (at the program's end).
void ReleaseTaskbarList();
