// SPDX-License-Identifier: MIT
#include "core/logring.h"

#include <QStringEncoder>
#include <algorithm>

LogRing::LogRing(qsizetype capacity, qsizetype trimStep)
    : m_capacity(std::max<qsizetype>(capacity, 1))
    , m_trimStep(std::clamp<qsizetype>(trimStep, 1, m_capacity))
    // Lines dropped from the first block still take their place, so the lines
    // kept may span one block more than the capacity alone needs.
    , m_blocks(size_t(m_capacity / LinesPerBlock + 2))
{ }

qsizetype LogRing::append(QStringView line)
{
    qsizetype dropped = 0;
    if (m_size >= m_capacity) {
        dropOldest(m_trimStep);
        dropped = m_trimStep;
    }
    push(line);
    return dropped;
}

qsizetype LogRing::append(const QStringList& lines)
{
    qsizetype dropped = 0;
    for (const QString& line : lines)
        dropped += append(QStringView(line));
    return dropped;
}

void LogRing::push(QStringView line)
{
    const qsizetype blockCount = qsizetype(m_blocks.size());
    if (m_blocksUsed == 0
        || m_blocks[size_t((m_firstBlock + m_blocksUsed - 1) % blockCount)].ends.size()
            == size_t(LinesPerBlock)) {
        Q_ASSERT(m_blocksUsed < blockCount);
        Block& fresh = m_blocks[size_t((m_firstBlock + m_blocksUsed) % blockCount)];
        // clear() keeps what the block had allocated the last time round.
        fresh.text.clear();
        fresh.ends.clear();
        fresh.ends.reserve(size_t(LinesPerBlock));
        ++m_blocksUsed;
    }
    Block& block = m_blocks[size_t((m_firstBlock + m_blocksUsed - 1) % blockCount)];
    // Stateless: a stray half of a surrogate pair must not reach into the
    // next line.
    QStringEncoder toUtf8(QStringEncoder::Utf8, QStringConverter::Flag::Stateless);
    const size_t old = block.text.size();
    block.text.resize(old + size_t(toUtf8.requiredSpace(line.size())));
    char* end = toUtf8.appendToBuffer(block.text.data() + old, line);
    block.text.resize(size_t(end - block.text.data()));
    block.ends.push_back(uint32_t(block.text.size()));
    ++m_size;
}

void LogRing::dropOldest(qsizetype count)
{
    count = std::min(count, m_size);
    m_size -= count;
    if (m_size == 0) {
        clear();
        return;
    }
    // Every block but the last is full, and the last still holds lines.
    m_skipped += count;
    while (m_skipped >= LinesPerBlock) {
        m_skipped -= LinesPerBlock;
        m_firstBlock = (m_firstBlock + 1) % qsizetype(m_blocks.size());
        --m_blocksUsed;
    }
}

const LogRing::Block& LogRing::blockOf(qsizetype row, qsizetype* index) const
{
    Q_ASSERT(row >= 0 && row < m_size);
    const qsizetype slot = m_skipped + row;
    *index = slot % LinesPerBlock;
    return m_blocks[size_t((m_firstBlock + slot / LinesPerBlock) % qsizetype(m_blocks.size()))];
}

QString LogRing::line(qsizetype row) const
{
    if (row < 0 || row >= m_size)
        return QString();
    qsizetype index = 0;
    const Block& block = blockOf(row, &index);
    const uint32_t start = index == 0 ? 0 : block.ends[size_t(index - 1)];
    return QString::fromUtf8(
        block.text.data() + start, qsizetype(block.ends[size_t(index)] - start));
}

QString LogRing::text(qsizetype first, qsizetype last, QStringView lineEnd) const
{
    first = std::max<qsizetype>(first, 0);
    last = std::min(last, m_size - 1);
    QString result;
    if (first > last)
        return result;
    result.reserve((last - first + 1) * 32);
    for (qsizetype row = first; row <= last; ++row) {
        result += line(row);
        result += lineEnd;
    }
    return result;
}

void LogRing::clear()
{
    m_firstBlock = 0;
    m_blocksUsed = 0;
    m_skipped = 0;
    m_size = 0;
}

qsizetype LogRing::allocatedBytes() const
{
    size_t bytes = 0;
    for (const Block& block : m_blocks)
        bytes += block.text.capacity() + block.ends.capacity() * sizeof(uint32_t);
    return qsizetype(bytes);
}
