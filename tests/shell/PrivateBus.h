#pragma once
// A session bus of the test's own: dbus-daemon started for one test, pointed to by
// DBUS_SESSION_BUS_ADDRESS while it lives, and stopped by its own handle afterwards.

#include <QByteArray>
#include <QProcess>

class PrivateBus {
public:
    PrivateBus() : m_saved(qgetenv("DBUS_SESSION_BUS_ADDRESS")) {
        m_daemon.setProgram("dbus-daemon");
        m_daemon.setArguments({"--session", "--nofork", "--nopidfile", "--print-address=1"});
        m_daemon.start();
        if (!m_daemon.waitForStarted(5000) || !m_daemon.waitForReadyRead(5000)) {
            return;
        }
        m_address = m_daemon.readLine().trimmed();
        if (!m_address.isEmpty()) {
            qputenv("DBUS_SESSION_BUS_ADDRESS", m_address);
        }
    }
    ~PrivateBus() {
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_saved);
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    bool IsRunning() const { return !m_address.isEmpty(); }
    QString Address() const { return QString::fromUtf8(m_address); }

private:
    QByteArray m_saved;
    QByteArray m_address;
    QProcess m_daemon;
};
