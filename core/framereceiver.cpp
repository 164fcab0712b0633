#include "core/framereceiver.h"

#include <algorithm>

namespace {

const QLatin1String LineEnd("\r\n");
constexpr QChar FrameMarker = u'$';

// The text from the last "$" on, or an empty view when there is no "$".
QStringView fromLastMarker(const QString &text)
{
    const qsizetype marker = text.lastIndexOf(FrameMarker);
    return marker < 0 ? QStringView() : QStringView(text).mid(marker);
}

} // namespace

FrameReceiver::FrameReceiver(const QString &receiveText) : m_receiveText(receiveText)
{
    keepWithinBound();
}

bool FrameReceiver::Tick(SerialPort *port)
{
    m_tookFrame = false;
    bool open = false;
    if (port->portOpen(&open) != SerialOk || !open)
        return false;

    QList<ReceivedChunk> chunks;
    if (port->input(&chunks) != SerialOk)
        return false;

    // Quiet: nothing arrived this tick and the text is as long as the previous tick left it
    // (an edit by the user that changed its length postpones the frame by one tick).
    const bool received =
        std::any_of(chunks.cbegin(), chunks.cend(),
                    [](const ReceivedChunk &chunk) { return !chunk.bytes.isEmpty(); });
    if (received)
        append(chunks);
    else if (m_receiveText.size() == m_lastLength)
        takeFrame();

    m_lastLength = m_receiveText.size();
    return true;
}

void FrameReceiver::append(const QList<ReceivedChunk> &chunks)
{
    // Each byte is one character: 0-127 as themselves, 128-255 as Latin-1.
    for (const ReceivedChunk &chunk : chunks) {
        const qsizetype marker = chunk.bytes.lastIndexOf(char(FrameMarker.unicode()));
        if (marker >= 0)
            m_markerArrival = chunk.arrivalOf(marker);
        m_receiveText += QString::fromLatin1(chunk.bytes);
    }
    keepWithinBound();
}

void FrameReceiver::takeFrame()
{
    const qsizetype marker = m_receiveText.lastIndexOf(FrameMarker);
    if (marker < 0)
        return;
    const qsizetype end = m_receiveText.indexOf(LineEnd, marker + 1);
    if (end < 0)
        return; // the frame is still arriving: take it whole on a later quiet tick
    m_receiveText = m_receiveText.mid(marker + 1, end - marker - 1);
    m_tookFrame = true;
    ShowFrame(m_receiveText, m_markerArrival);
}

void FrameReceiver::ShowFrame(const QString &frameText, MonotonicTime arrival)
{
    m_takenFrame = Frame::parse(frameText, arrival);
    if (m_takenFrame)
        m_lastFrame = m_takenFrame;
}

void FrameReceiver::SetReceiveText(const QString &text)
{
    // A "$" that the edit left where it was keeps its arrival time; one the user typed
    // arrived now.
    if (fromLastMarker(text) != fromLastMarker(m_receiveText))
        m_markerArrival = MonotonicClock::now();
    m_receiveText = text;
    keepWithinBound();
}

void FrameReceiver::keepWithinBound()
{
    if (m_receiveText.size() > MaxReceiveLength)
        m_receiveText.remove(0, m_receiveText.size() - MaxReceiveLength);
}
