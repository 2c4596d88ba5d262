// SPDX-License-Identifier: MIT
#include "endsignals.h"

#include "messages.h"

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace boardsim {

namespace {
constexpr int Ending[] = { SIGINT, SIGTERM, SIGHUP };
} // namespace

EndSignals::~EndSignals()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool EndSignals::start()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : Ending)
        sigaddset(&set, signal);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
        say(whatFailed(u"cannot block the signals that end the board"_s));
        return false;
    }
    // A shell starts background jobs with SIGINT ignored, and an ignored
    // signal may be dropped before the descriptor sees it; kill -INT must end
    // the board too.
    for (const int signal : Ending)
        std::signal(signal, SIG_DFL);
    m_fd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0) {
        say(whatFailed(u"cannot watch the signals that end the board"_s));
        return false;
    }
    std::signal(SIGPIPE, SIG_IGN);
    // A board started in the background must not be stopped for reading its
    // terminal; the read fails instead and keys are simply not taken.
    std::signal(SIGTTIN, SIG_IGN);
    return true;
}

int EndSignals::take()
{
    signalfd_siginfo info {};
    if (::read(m_fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
        return 0;
    return static_cast<int>(info.ssi_signo);
}

} // namespace boardsim
