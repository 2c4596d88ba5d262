// SPDX-License-Identifier: MIT
#include "peerwatch.h"

#include <algorithm>
#include <sys/inotify.h>
#include <unistd.h>

namespace boardsim {

PeerWatch::~PeerWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool PeerWatch::start(const QByteArray& slavePath)
{
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd >= 0
        && ::inotify_add_watch(m_fd, slavePath.constData(), IN_OPEN | IN_CLOSE | IN_MODIFY) >= 0)
        return true;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    return false;
}

QList<PeerWatch::Change> PeerWatch::read()
{
    QList<Change> changes;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            return changes;
        for (ssize_t offset = 0; offset < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            changes.append(apply(event->mask));
        }
    }
}

QList<PeerWatch::Change> PeerWatch::apply(std::uint32_t mask)
{
    QList<Change> changes;
    if (mask & IN_OPEN) {
        ++m_opens;
        changes.append(Change::Opened);
    }
    if (mask & IN_CLOSE) {
        m_opens = std::max(0, m_opens - 1);
        if (m_opens == 0)
            changes.append(Change::LastClosed);
    }
    // inotify folds identical events queued back to back, so two quick opens
    // may count as one; a write proves someone has it open.
    if ((mask & IN_MODIFY) && m_opens == 0)
        m_opens = 1;
    return changes;
}

} // namespace boardsim
