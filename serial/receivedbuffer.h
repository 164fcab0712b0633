#pragma once

#include "core/serialport.h"

#include <QList>
#include <QMutex>

// What the reading thread has received and the poll has not taken yet: the chunks in order of
// arrival, at most Capacity bytes of them. The reading thread appends while the poll's thread
// takes; both may call at the same time.
class ReceivedBuffer
{
public:
    // Most bytes kept: at 4800 baud about two seconds of the line, which a reader polling ten
    // times a second never reaches.
    static constexpr qsizetype Capacity = 1024;

    // Adds the bytes of one read, the last of which arrived at `lastArrival`. When more than
    // Capacity bytes are then held, the oldest go, and what is kept starts with a line end,
    // so that a frame cut in two by the loss can never join its far end into a frame.
    void append(const QByteArray &bytes, MonotonicTime lastArrival);

    // Starts over for a port just opened: what was not taken goes. When anything was received
    // before, what comes now starts with a line end dated `now`: the input before may end in
    // a frame cut short by the close, which the end of another frame must not complete.
    void restart(MonotonicTime now);

    // Everything held, oldest first; the buffer is empty afterwards.
    QList<ReceivedChunk> take();

private:
    void keepWithinCapacity();

    QMutex m_mutex;
    QList<ReceivedChunk> m_chunks;
    qsizetype m_size = 0;
    bool m_receivedBefore = false;
};
