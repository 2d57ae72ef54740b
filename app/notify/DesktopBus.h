#pragma once
// The program's own connection to the user's session bus, for the launcher progress and the
// desktop notifications.

#include <QDBusConnection>

// Connects once; true while connected. The address is looked up afresh on every attempt
// (libdbus keeps the first one it saw), so a bus that appears later can still be taken up.
bool ConnectDesktopBus();
// The connection; not connected when ConnectDesktopBus has not succeeded.
QDBusConnection DesktopBus();
void DisconnectDesktopBus();
