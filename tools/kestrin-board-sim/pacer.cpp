// SPDX-License-Identifier: MIT
#include "pacer.h"

#include <algorithm>

namespace boardsim {

void Pacer::append(QByteArrayView bytes, double now)
{
    // An idle line earns no credit: what comes after a pause starts now.
    if (m_queue.isEmpty())
        m_lineFreeAt = std::max(m_lineFreeAt, now);
    m_queue.append(bytes);
}

QByteArrayView Pacer::due(double now) const
{
    if (!m_paced)
        return m_queue;
    if (m_queue.isEmpty() || m_lineFreeAt > now)
        return {};
    // A late wake-up sends what fell due meanwhile, so the average rate stays
    // the line's.
    const auto count = static_cast<qsizetype>((now - m_lineFreeAt) / CharSeconds) + 1;
    return QByteArrayView(m_queue).first(std::min(count, m_queue.size()));
}

void Pacer::written(qsizetype count)
{
    m_queue.remove(0, count);
    m_lineFreeAt += static_cast<double>(count) * CharSeconds;
}

} // namespace boardsim
