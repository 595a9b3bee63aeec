#include "app/termination_signal.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>

#include <csignal>

namespace kestrix {

namespace {

int gSignalPipe[2] = {-1, -1};

extern "C" void forwardSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here: the notifier does the rest.
    [[maybe_unused]] const auto written = ::write(gSignalPipe[0], &byte, 1);
}

}  // namespace

void onTerminationSignal(QObject* context, std::function<void()> action) {
    if (gSignalPipe[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(gSignalPipe[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [action = std::move(action)] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(gSignalPipe[1], &byte, 1);
        action();
    });
    struct sigaction handler {};
    handler.sa_handler = forwardSignal;
    sigemptyset(&handler.sa_mask);
    handler.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &handler, nullptr);
}

}  // namespace kestrix
