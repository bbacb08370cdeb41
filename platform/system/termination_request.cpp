#include "system/termination_request.h"

#include <QCoreApplication>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int wakeFds[2] = {-1, -1}; // [0] read on the UI thread, [1] written by the signal handler

// Only async-signal-safe work here: one byte into the socket.
void signalHandler(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFds[1], &byte, 1);
}

} // namespace

void onTerminationRequest(std::function<void()> handler)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeFds) != 0)
        return; // without the socket the signals keep their default: the process ends
    auto *notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [handler = std::move(handler)] {
        char byte;
        [[maybe_unused]] const ssize_t read = ::read(wakeFds[0], &byte, 1);
        handler();
    });
    struct sigaction action = {};
    action.sa_handler = signalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signalNumber, &action, nullptr);
}

#else

void onTerminationRequest(std::function<void()>) {}

#endif
