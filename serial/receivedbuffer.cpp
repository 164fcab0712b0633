#include "serial/receivedbuffer.h"

#include <QMutexLocker>

namespace {

const QByteArray LineEnd("\r\n");

} // namespace

void ReceivedBuffer::append(const QByteArray &bytes, MonotonicTime lastArrival)
{
    if (bytes.isEmpty())
        return;
    const QMutexLocker lock(&m_mutex);
    m_receivedBefore = true;
    m_chunks.append(ReceivedChunk{bytes, lastArrival});
    m_size += bytes.size();
    keepWithinCapacity();
}

void ReceivedBuffer::restart(MonotonicTime now)
{
    const QMutexLocker lock(&m_mutex);
    m_chunks.clear();
    m_size = 0;
    if (m_receivedBefore) {
        m_chunks.append(ReceivedChunk{LineEnd, now});
        m_size = LineEnd.size();
    }
}

QList<ReceivedChunk> ReceivedBuffer::take()
{
    const QMutexLocker lock(&m_mutex);
    m_size = 0;
    return std::exchange(m_chunks, {});
}

void ReceivedBuffer::keepWithinCapacity()
{
    if (m_size <= Capacity)
        return;
    qsizetype drop = m_size - Capacity + LineEnd.size();
    while (drop > 0) {
        ReceivedChunk &oldest = m_chunks.first();
        const qsizetype dropped = std::min(drop, oldest.bytes.size());
        oldest.bytes.remove(0, dropped);
        if (oldest.bytes.isEmpty())
            m_chunks.removeFirst();
        m_size -= dropped;
        drop -= dropped;
    }
    // The line end stands where the lost bytes were, just before the first byte kept.
    const MonotonicTime gap = m_chunks.first().arrivalOf(0);
    m_chunks.prepend(ReceivedChunk{LineEnd, gap});
    m_size += LineEnd.size();
}
