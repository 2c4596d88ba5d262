// SPDX-License-Identifier: MIT
#pragma once

// Writing a whole buffer through a call that may take only part of it, for
// the log file, the journal and the files the safe-file rules replace.

#include <QByteArray>

#include <cerrno>

// Calls `writeSome(bytes, count, done)` (`done`: how much went before, for a
// positioned write) until all of `data` is taken, making an interrupted call
// again. Returns how much was taken: less than all after a failure (errno
// says why) or after a call that took nothing, which would loop for ever
// (errno is then ENOSPC).
template <class WriteSome>
qsizetype writeWhole(const QByteArray& data, WriteSome writeSome)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const auto n = writeSome(data.constData() + done, data.size() - done, done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return done;
        }
        done += n;
    }
    return done;
}
