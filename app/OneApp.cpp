#include "app/OneApp.h"

#include "app/AppTitle.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr int kHandshakeTimeoutMs = 2000;
// A client that connects and never says anything is dropped after this long.
constexpr int kIdleClientMs = 5000;

QLocalServer *g_server = nullptr;
std::function<void()> g_activateHandler;
bool g_activationPending = false;

void Activate() {
    if (g_activateHandler) {
        g_activateHandler();
    } else {
        g_activationPending = true;
    }
}

bool SendActivateMessage(const QString &path) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(kHandshakeTimeoutMs)) {
        return false;
    }
    socket.write(kActivateInstanceMessage);
    socket.flush();
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(kHandshakeTimeoutMs)) {
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) {
        socket.waitForDisconnected(kHandshakeTimeoutMs);
    }
    return true;
}

void ServeClient(QLocalSocket *client) {
    auto received = std::make_shared<QByteArray>();
    const int messageLength = static_cast<int>(sizeof(kActivateInstanceMessage) - 1);
    auto take = [client, received, messageLength] {
        if (received->size() >= messageLength) {
            return;
        }
        received->append(client->readAll());
        if (received->size() >= messageLength) {
            if (received->startsWith(kActivateInstanceMessage)) {
                Activate();
            }
            client->disconnectFromServer();
        }
    };
    QObject::connect(client, &QLocalSocket::readyRead, client, take);
    QObject::connect(client, &QLocalSocket::disconnected, client, [client, take] {
        take();
        client->deleteLater();
    });
    QTimer::singleShot(kIdleClientMs, client, [client] {
        client->abort();
        client->deleteLater();
    });
    if (client->bytesAvailable() > 0) {
        take();
    }
}

void AcceptClients() {
    while (QLocalSocket *client = g_server->nextPendingConnection()) {
        ServeClient(client);
    }
}

}  // namespace

QString InstanceSocketPath() {
#ifdef Q_OS_WIN
    return QString::fromLatin1(kAppTitle);
#else
    const QByteArray runtimeDir = qgetenv("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty()) {
        return QDir(QString::fromLocal8Bit(runtimeDir)).filePath(QString::fromLatin1(kAppTitle));
    }
    return QDir::tempPath() + QLatin1Char('/') + QString::fromLatin1(kAppTitle) + QLatin1Char('-') +
           QString::number(getuid());
#endif
}

bool IsAlreadyRunning() {
    const QString path = InstanceSocketPath();
    if (SendActivateMessage(path)) {
        return true;
    }
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        if (server->serverError() != QAbstractSocket::AddressInUseError) {
            return false;
        }
        // Either a copy started listening since we tried, or the socket is a dead copy's.
        if (SendActivateMessage(path)) {
            return true;
        }
        QLocalServer::removeServer(path);
        if (!server->listen(path)) {
            return false;
        }
    }
    g_server = server.release();
    // Parented to the application so the socket file is removed at a normal exit.
    g_server->setParent(QCoreApplication::instance());
    QObject::connect(g_server, &QLocalServer::newConnection, g_server, AcceptClients);
    QObject::connect(g_server, &QObject::destroyed, [] { g_server = nullptr; });
    return false;
}

void SetActivateInstanceHandler(std::function<void()> handler) {
    g_activateHandler = std::move(handler);
    if (g_activateHandler && g_activationPending) {
        g_activationPending = false;
        g_activateHandler();
    }
}
