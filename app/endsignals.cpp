// SPDX-License-Identifier: MIT
#include "app/endsignals.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Written by the signal handler, read on the GUI thread: the only state a
// signal handler may safely touch.
int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
}

constexpr int Signals[] = { SIGTERM, SIGHUP, SIGINT };

} // namespace

EndSignals::EndSignals(std::function<void()> onEnd, QObject* parent)
    : QObject(parent)
    , m_onEnd(std::move(onEnd))
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[1], &byte, 1);
        if (m_onEnd)
            m_onEnd();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : Signals)
        ::sigaction(sig, &action, nullptr);
}

EndSignals::~EndSignals()
{
    for (int sig : Signals)
        ::signal(sig, SIG_DFL);
    for (int& fd : signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

#else

EndSignals::EndSignals(std::function<void()> onEnd, QObject* parent)
    : QObject(parent)
    , m_onEnd(std::move(onEnd))
{
}

EndSignals::~EndSignals() = default;

#endif
