#include "app/notify/DesktopBus.h"

#include <QFileInfo>

namespace {

const QString kConnectionName = QStringLiteral("korvi-desktop-bus");

bool &Connected() {
    static bool connected = false;
    return connected;
}

QString SessionBusAddress() {
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty()) {
        return address;
    }
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString bus = runtimeDir + QLatin1String("/bus");
    if (!runtimeDir.isEmpty() && QFileInfo(bus).exists()) {
        return QLatin1String("unix:path=") + bus;
    }
    return QString();
}

}  // namespace

bool ConnectDesktopBus() {
    if (Connected() && DesktopBus().isConnected()) {
        return true;
    }
    DisconnectDesktopBus();
    const QString address = SessionBusAddress();
    if (address.isEmpty()) {
        return false;
    }
    Connected() = QDBusConnection::connectToBus(address, kConnectionName).isConnected();
    if (!Connected()) {
        QDBusConnection::disconnectFromBus(kConnectionName);
    }
    return Connected();
}

QDBusConnection DesktopBus() {
    return QDBusConnection(kConnectionName);
}

void DisconnectDesktopBus() {
    if (Connected()) {
        Connected() = false;
    }
    QDBusConnection::disconnectFromBus(kConnectionName);
}
