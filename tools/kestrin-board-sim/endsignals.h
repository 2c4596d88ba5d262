// SPDX-License-Identifier: MIT
#pragma once

// SIGINT, SIGTERM and SIGHUP as a file descriptor, so that the poll loop ends
// the board in an orderly way (its link removed) instead of a handler.

namespace boardsim {

class EndSignals
{
public:
    EndSignals() = default;
    ~EndSignals();
    EndSignals(const EndSignals&) = delete;
    EndSignals& operator=(const EndSignals&) = delete;

    // Blocks the three signals and opens the descriptor; ignores SIGPIPE and
    // SIGTTIN. Says why and returns false when it cannot.
    bool start();
    int fd() const { return m_fd; }
    // The number of the signal that arrived, 0 when none did.
    int take();

private:
    int m_fd = -1;
};

} // namespace boardsim
