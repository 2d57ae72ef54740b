#include "app/OneApp.h"

#include "app/AppTitle.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QUrl>
#include <memory>
#include <utility>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr int kHandshakeTimeoutMs = 2000;
// A client that connects and never says anything is dropped after this long.
constexpr int kIdleClientMs = 5000;
// More than any list of paths a file manager hands over; a longer message opens nothing.
constexpr qint64 kMaxMessageBytes = 1 << 20;

QLocalServer *g_server = nullptr;
std::function<void()> g_activateHandler;
bool g_activationPending = false;
std::function<void(const QStringList &)> g_openFilesHandler;
QStringList g_pendingFiles;

void OpenFiles(const QStringList &files) {
    if (files.isEmpty())
        return;
    if (g_openFilesHandler)
        g_openFilesHandler(files);
    else
        g_pendingFiles += files;
}

// The files after the activation message: each line of a message that ends in a newline. A
// message cut short (a client that stopped half-way) opens nothing rather than a wrong path.
QStringList FilesOf(const QByteArray &message) {
    const QByteArray rest = message.mid(qsizetype(sizeof(kActivateInstanceMessage) - 1));
    if (!rest.startsWith('\n') || !rest.endsWith('\n'))
        return {};
    QStringList files;
    for (const QByteArray &line : rest.split('\n')) {
        if (!line.isEmpty())
            files << QString::fromUtf8(line);
    }
    return files;
}

void Activate() {
    if (g_activateHandler) {
        g_activateHandler();
    } else {
        g_activationPending = true;
    }
}

bool SendActivateMessage(const QString &path, const QStringList &files) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(kHandshakeTimeoutMs)) {
        return false;
    }
    QByteArray message(kActivateInstanceMessage);
    for (const QString &file : files) {
        // A path holding a newline cannot be told apart from two paths.
        if (!file.contains(QLatin1Char('\n')))
            message += '\n' + file.toUtf8();
    }
    if (message.size() > qsizetype(sizeof(kActivateInstanceMessage) - 1))
        message += '\n';
    socket.write(message);
    socket.flush();
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(kHandshakeTimeoutMs)) {
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) {
        socket.waitForDisconnected(kHandshakeTimeoutMs);
    }
    return true;
}

// The window comes forward as soon as the activation message is in; the files that may follow
// are opened once the client has sent everything and hung up.
void ServeClient(QLocalSocket *client) {
    struct State {
        QByteArray received;
        bool activated = false;
        bool done = false;
    };
    auto state = std::make_shared<State>();
    const qsizetype messageLength = qsizetype(sizeof(kActivateInstanceMessage) - 1);
    auto take = [client, state, messageLength] {
        if (state->done)
            return;
        state->received.append(client->read(kMaxMessageBytes + 1 - state->received.size()));
        if (!state->activated && state->received.size() >= messageLength) {
            if (!state->received.startsWith(kActivateInstanceMessage)) {
                state->done = true;
                client->disconnectFromServer();
                return;
            }
            state->activated = true;
            Activate();
        }
        if (state->received.size() > kMaxMessageBytes) {
            state->done = true;
            state->received.clear();
            client->disconnectFromServer();
        }
    };
    QObject::connect(client, &QLocalSocket::readyRead, client, take);
    QObject::connect(client, &QLocalSocket::disconnected, client, [client, state, take] {
        take();
        if (state->activated)
            OpenFiles(FilesOf(state->received));
        state->done = true;
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

bool IsAlreadyRunning(const QStringList &files) {
    const QString path = InstanceSocketPath();
    if (SendActivateMessage(path, files)) {
        return true;
    }
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        if (server->serverError() != QAbstractSocket::AddressInUseError) {
            return false;
        }
        // Either a copy started listening since we tried, or the socket is a dead copy's.
        if (SendActivateMessage(path, files)) {
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

QStringList CommandLineAddresses(const QStringList &arguments) {
    QStringList addresses;
    for (const QString &argument : arguments) {
        if (argument.trimmed().isEmpty())
            continue;
        const QUrl url(argument);
        if (url.isLocalFile())
            addresses << QFileInfo(url.toLocalFile()).absoluteFilePath();
        else if (argument.contains(QLatin1String("://")))
            addresses << argument;
        else
            addresses << QFileInfo(argument).absoluteFilePath();
    }
    return addresses;
}

void SetOpenFilesHandler(std::function<void(const QStringList &files)> handler) {
    g_openFilesHandler = std::move(handler);
    if (g_openFilesHandler && !g_pendingFiles.isEmpty())
        g_openFilesHandler(std::exchange(g_pendingFiles, QStringList()));
}
