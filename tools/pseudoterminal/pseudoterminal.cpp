// SPDX-License-Identifier: MIT
#include "tools/pseudoterminal/pseudoterminal.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

// Closes what was opened, keeping the errno of the step that failed.
PseudoTerminal failed(PseudoTerminal& terminal, std::string* failure, std::string what)
{
    const int error = errno;
    for (const int fd : { terminal.device, terminal.master }) {
        if (fd >= 0)
            ::close(fd);
    }
    if (failure)
        *failure = std::move(what);
    errno = error;
    return {};
}

} // namespace

PseudoTerminal openPseudoTerminal(std::string* failure)
{
    PseudoTerminal terminal;
    terminal.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal.master < 0 || ::grantpt(terminal.master) != 0 || ::unlockpt(terminal.master) != 0)
        return failed(terminal, failure, "cannot open a pseudo-terminal");
    const char* name = ::ptsname(terminal.master);
    if (!name)
        return failed(terminal, failure, "cannot name the pseudo-terminal");
    terminal.devicePath = name;
    terminal.device = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal.device < 0)
        return failed(terminal, failure, terminal.devicePath);
    termios tio {};
    if (::tcgetattr(terminal.device, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(terminal.device, TCSANOW, &tio);
    }
    ::fcntl(terminal.master, F_SETFL, ::fcntl(terminal.master, F_GETFL) | O_NONBLOCK);
    return terminal;
}
