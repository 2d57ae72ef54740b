#include "app/ExitSignals.h"

#include <QSocketNotifier>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace {

#ifdef Q_OS_UNIX
// [0] is written by the handler, [1] read on the event loop.
int g_pipe[2] = {-1, -1};
const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnExitSignal(int signalNumber) {
    const int saved = errno;
    const char byte = char(signalNumber);
    // Only async-signal-safe calls here. A full pipe already holds a request.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[0], &byte, 1);
    errno = saved;
}
#endif

}  // namespace

ExitSignalWatcher::ExitSignalWatcher(QObject *parent) : QObject(parent) {
#ifdef Q_OS_UNIX
    if (g_pipe[0] >= 0)
        return;
    // Close-on-exec: aria2c and ffmpeg must not hold the pipe open.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ExitSignalWatcher::ReadSignal);
    struct sigaction action {};
    action.sa_handler = OnExitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kSignals)
        ::sigaction(signalNumber, &action, nullptr);
#endif
}

ExitSignalWatcher::~ExitSignalWatcher() {
#ifdef Q_OS_UNIX
    if (!m_notifier)
        return;
    for (const int signalNumber : kSignals)
        ::signal(signalNumber, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
#endif
}

void ExitSignalWatcher::ReadSignal() {
#ifdef Q_OS_UNIX
    char byte = 0;
    while (::read(g_pipe[1], &byte, 1) == 1)
        emit ExitRequested(int(static_cast<unsigned char>(byte)));
#endif
}
