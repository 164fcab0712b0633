#include "core/frame.h"

#include <QStringList>

#include <algorithm>
#include <climits>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

std::optional<int> fieldNumber(QStringView field)
{
    qsizetype begin = 0;
    qsizetype end = field.size();
    while (begin < end && isBlank(field.at(begin)))
        ++begin;
    while (end > begin && isBlank(field.at(end - 1)))
        --end;
    if (begin == end)
        return std::nullopt;

    qint64 value = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const QChar c = field.at(i);
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = std::min<qint64>(value * 10 + (c.unicode() - u'0'), INT_MAX);
    }
    return static_cast<int>(value);
}

std::optional<Frame> Frame::parse(const QString &frameText, MonotonicTime arrival)
{
    if (frameText.isEmpty())
        return std::nullopt;
    const QStringList fields = frameText.split(u',');
    if (fields.size() < 4)
        return std::nullopt;
    const std::optional<int> weekday = fieldNumber(fields.at(2));
    const std::optional<int> summer = fieldNumber(fields.at(3));
    if (!weekday || !summer)
        return std::nullopt;
    return Frame{fields.at(0), fields.at(1), *weekday, *summer == 1, arrival};
}

bool Frame::operator==(const Frame &other) const
{
    return time == other.time && date == other.date && weekday == other.weekday
           && summer == other.summer && arrival == other.arrival;
}

QList<FrameDecoder::Line> FrameDecoder::decode(const QList<ReceivedChunk> &chunks)
{
    QList<Line> lines;
    for (const ReceivedChunk &chunk : chunks) {
        for (qsizetype i = 0; i < chunk.bytes.size(); ++i) {
            const char byte = chunk.bytes.at(i);
            const bool lineEnd = byte == '\n' && m_lastWasCr;
            m_lastWasCr = byte == '\r';
            if (byte == '$') {
                m_inFrame = true;
                m_text.clear();
                m_markerArrival = chunk.arrivalOf(i);
            } else if (!m_inFrame) {
                continue;
            } else if (lineEnd) {
                m_text.chop(1); // the CR
                lines.append({m_text, Frame::parse(m_text, m_markerArrival)});
                m_inFrame = false;
                m_text.clear();
            } else if (m_text.size() >= MaxFrameText) {
                m_inFrame = false;
                m_text.clear();
            } else {
                // Each byte is one character: 0-127 as themselves, 128-255 as Latin-1.
                m_text.append(QChar(uchar(byte)));
            }
        }
    }
    return lines;
}

void FrameDecoder::reset()
{
    m_text.clear();
    m_inFrame = false;
    m_lastWasCr = false;
}
