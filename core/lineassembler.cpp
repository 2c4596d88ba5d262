// SPDX-License-Identifier: MIT
#include "lineassembler.h"

namespace {

// Room for any real reply, so the pending buffer rarely grows.
constexpr qsizetype TypicalLineCapacity = 64;

} // namespace

void LineAssembler::feed(QByteArrayView bytes, QStringList& lines)
{
    const char* p = bytes.data();
    const char* const end = p + bytes.size();

    // Ordinary characters are appended in runs rather than one at a time; this
    // is the receive path for every byte the board sends.
    const auto appendRun = [this](const char* run, qsizetype count) {
        if (m_discarding || count == 0)
            return;
        if (m_pending.size() + count > MaxLineLength) {
            m_discarding = true;
            m_pending.clear(); // give the oversized buffer back
            return;
        }
        if (m_pending.capacity() < TypicalLineCapacity)
            m_pending.reserve(TypicalLineCapacity);
        m_pending.append(QLatin1StringView(run, count));
    };

    while (p != end) {
        const char* q = p;
        while (q != end && *q != '\r' && *q != '\n' && *q != '\0')
            ++q;
        appendRun(p, q - p);
        if (q == end)
            break;
        switch (*q) {
        case '\r':
            if (m_discarding) {
                m_discarding = false;
            } else if (!m_pending.isEmpty()) {
                // A copy of the right size for the list; the pending buffer keeps
                // its capacity for the next line.
                lines.append(QString(m_pending.constData(), m_pending.size()));
                m_pending.truncate(0);
            }
            break;
        case '\0':
            appendRun(" ", 1);
            break;
        default: // '\n' is dropped wherever it stands
            break;
        }
        p = q + 1;
    }
}

void LineAssembler::clear()
{
    m_pending.clear();
    m_discarding = false;
}
