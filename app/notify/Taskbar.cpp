#include "app/notify/Taskbar.h"

#include "app/notify/DesktopBus.h"

#include <QDBusMessage>
#include <QVariantMap>

namespace {

bool &Held() {
    static bool held = false;
    return held;
}

}  // namespace

bool InitTaskbarList() {
    if (!Held()) {
        Held() = ConnectDesktopBus();
    }
    return Held();
}

bool TaskbarSetProgress(quint64 total, quint64 completed) {
    if (!Held()) {
        return false;
    }
    QDBusConnection bus = DesktopBus();
    if (!bus.isConnected()) {
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
    return bus.send(signal);
}

void ReleaseTaskbarList() {
    if (Held()) {
        Held() = false;
        DisconnectDesktopBus();
    }
}
