// SPDX-License-Identifier: MIT
#include "transcript.h"

#include "core/safefile.h"
#include "messages.h"

#include <ctime>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace boardsim {

Transcript::~Transcript()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Transcript::open(const QString& path)
{
    // Often in the logger's shared data folder: opened by the logger's rules,
    // so another operator's link or a second name there never leads the
    // emptying into this operator's own files, and a FIFO never hangs it.
    const Result<int> opened = safefile::openForWriting(path);
    if (!opened) {
        say(u"%1: %2"_s.arg(path, opened.reason()));
        return false;
    }
    m_fd = opened.value();
    return true;
}

void Transcript::write(QStringView line)
{
    if (m_fd < 0)
        return;
    timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    const qint64 micros = static_cast<qint64>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
    const QByteArray bytes = record(micros, line.toLatin1());
    if (::write(m_fd, bytes.constData(), static_cast<size_t>(bytes.size())) != bytes.size())
        say(whatFailed(u"cannot write the transcript"_s));
}

QByteArray Transcript::record(qint64 microsecondsSinceEpoch, QByteArrayView line)
{
    return QByteArray::number(microsecondsSinceEpoch / 1000) + '.'
        + QByteArray::number(microsecondsSinceEpoch % 1000).rightJustified(3, '0') + ' '
        + escaped(line) + '\n';
}

} // namespace boardsim
