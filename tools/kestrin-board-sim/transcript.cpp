// SPDX-License-Identifier: MIT
#include "transcript.h"

#include "messages.h"

#include <QFile>
#include <ctime>
#include <fcntl.h>
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
    m_fd = ::open(
        QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        say(systemError(path));
        return false;
    }
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
        say(systemError(u"cannot write the transcript"_s));
}

QByteArray Transcript::record(qint64 microsecondsSinceEpoch, QByteArrayView line)
{
    return QByteArray::number(microsecondsSinceEpoch / 1000) + '.'
        + QByteArray::number(microsecondsSinceEpoch % 1000).rightJustified(3, '0') + ' '
        + escaped(line) + '\n';
}

} // namespace boardsim
