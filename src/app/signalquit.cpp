#include "signalquit.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_fds[2] = {-1, -1};
std::atomic<int> g_signal{0};

extern "C" void onSignal(int signo)
{
    g_signal.store(signo);
    const char byte = static_cast<char>(signo);
    // Only async-signal-safe calls here; a full pipe just drops the byte.
    const ssize_t ignored = ::write(g_fds[0], &byte, 1);
    (void)ignored;
}

} // namespace

SignalQuit::SignalQuit(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0)
        return;
    m_pNotifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &SignalQuit::onSignalReadable);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

SignalQuit::~SignalQuit()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    delete m_pNotifier;
    m_pNotifier = nullptr;
    for (int& fd : g_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

int SignalQuit::receivedSignal()
{
    return g_signal.load();
}

void SignalQuit::onSignalReadable()
{
    char buffer[16];
    while (::read(g_fds[1], buffer, sizeof buffer) > 0) {
    }
    QCoreApplication::quit();
}
