// SPDX-License-Identifier: MIT
#pragma once

// Who has the pseudo-terminal open besides the board, from inotify opens and
// closes of its slave device: while nobody has, replies and readings are
// dropped as on a line with nothing attached.

#include <QByteArray>
#include <QList>
#include <cstdint>

namespace boardsim {

class PeerWatch
{
public:
    enum class Change
    {
        Opened,
        LastClosed // nobody has the link open any more
    };

    PeerWatch() = default;
    ~PeerWatch();
    PeerWatch(const PeerWatch&) = delete;
    PeerWatch& operator=(const PeerWatch&) = delete;

    // Starts watching `slavePath`; must be called after the board's own open,
    // so that every open seen is the other side's.
    bool start(const QByteArray& slavePath);
    int fd() const { return m_fd; }
    bool isWatching() const { return m_fd >= 0; }

    // Unwatched, someone is taken to listen: a device or a link whose opens
    // cannot be seen sends whatever happens.
    bool someoneListens() const { return !isWatching() || m_opens > 0; }
    int opens() const { return m_opens; }

    // Reads the pending events.
    QList<Change> read();
    // One event's IN_OPEN, IN_CLOSE and IN_MODIFY bits.
    QList<Change> apply(std::uint32_t mask);

private:
    int m_fd = -1;
    int m_opens = 0;
};

} // namespace boardsim
