#include "app/notify/Taskbar.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>

#include <memory>

namespace {

std::unique_ptr<QDBusConnection> &Connection() {
    static std::unique_ptr<QDBusConnection> connection;
    return connection;
}

}  // namespace

const QString kConnectionName = QStringLiteral("korvi-launcher-entry");

bool InitTaskbarList() {
    if (Connection()) {
        return true;
    }
    // The address is looked up afresh each time (libdbus keeps the first one it saw), so a bus
    // that appears later can still be taken up.
    QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    const QString runtimeBus = qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1String("/bus");
    if (address.isEmpty() && !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") &&
        QFileInfo(runtimeBus).exists()) {
        address = QLatin1String("unix:path=") + runtimeBus;
    }
    if (address.isEmpty()) {
        return false;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(address, kConnectionName);
    if (!bus.isConnected()) {
        QDBusConnection::disconnectFromBus(kConnectionName);
        return false;
    }
    Connection() = std::make_unique<QDBusConnection>(bus);
    return true;
}

bool TaskbarSetProgress(quint64 total, quint64 completed) {
    const auto &bus = Connection();
    if (!bus || !bus->isConnected()) {
        return false;
    }
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/com/canonical/unity/launcherentry/korvi"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"),
                      total == 0 ? 0.0 : qMin(1.0, double(completed) / double(total)));
    properties.insert(QStringLiteral("progress-visible"), total != 0);
    signal << QString::fromLatin1(LauncherAppUri) << properties;
    return bus->send(signal);
}

void ReleaseTaskbarList() {
    if (Connection()) {
        Connection().reset();
        QDBusConnection::disconnectFromBus(kConnectionName);
    }
}
