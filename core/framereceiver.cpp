#include "framereceiver.h"

#include "framefields.h"

#include <QCoreApplication>

namespace {

const QLatin1String LineEnd("\r\n");
constexpr QChar FrameMarker = u'$';

const char *const WeekdayNames[] = {
    QT_TRANSLATE_NOOP("FrameReceiver", "Lunes"),     QT_TRANSLATE_NOOP("FrameReceiver", "Martes"),
    QT_TRANSLATE_NOOP("FrameReceiver", "Miercoles"), QT_TRANSLATE_NOOP("FrameReceiver", "Jueves"),
    QT_TRANSLATE_NOOP("FrameReceiver", "Viernes"),   QT_TRANSLATE_NOOP("FrameReceiver", "Sabado"),
    QT_TRANSLATE_NOOP("FrameReceiver", "Domingo"),
};

QString translated(const char *text)
{
    return QCoreApplication::translate("FrameReceiver", text);
}

// The text from the last "$" on, or an empty view when there is no "$".
QStringView fromLastMarker(const QString &text)
{
    const qsizetype marker = text.lastIndexOf(FrameMarker);
    return marker < 0 ? QStringView() : QStringView(text).mid(marker);
}

} // namespace

bool DisplayTexts::operator==(const DisplayTexts &other) const
{
    return time == other.time && date == other.date && weekday == other.weekday &&
           regime == other.regime;
}

FrameReceiver::FrameReceiver(const QString &receiveText, const DisplayTexts &display)
    : m_receiveText(receiveText), m_display(display)
{
    keepWithinBound();
}

bool FrameReceiver::Tick(SerialPort *port)
{
    m_tookFrame = false;
    bool open = false;
    if (port->portOpen(&open) != SerialOk || !open)
        return false;

    QString input;
    QList<MonotonicTime> arrivals;
    if (port->input(&input, &arrivals) != SerialOk)
        return false;

    // Quiet: nothing arrived this tick and the text is as long as the previous tick left it
    // (an edit by the user that changed its length postpones the frame by one tick).
    if (!input.isEmpty())
        append(input, arrivals);
    else if (m_receiveText.size() == m_lastLength)
        takeFrame();

    m_lastLength = m_receiveText.size();
    return true;
}

void FrameReceiver::append(const QString &input, const QList<MonotonicTime> &arrivals)
{
    const qsizetype marker = input.lastIndexOf(FrameMarker);
    if (marker >= 0)
        m_markerArrival =
            arrivals.size() == input.size() ? arrivals.at(marker) : MonotonicClock::now();
    m_receiveText += input;
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
    const std::optional<FrameFields> fields = FrameFields::parse(frameText);
    if (!fields)
        return;
    m_display.time = fields->time;
    m_display.date = fields->date;
    if (fields->weekday >= 1 && fields->weekday <= 7)
        m_display.weekday = translated(WeekdayNames[fields->weekday - 1]);
    m_display.regime = fields->summer == 1
                           ? translated(QT_TRANSLATE_NOOP("FrameReceiver", "Verano"))
                           : translated(QT_TRANSLATE_NOOP("FrameReceiver", "Invierno"));
    m_frameArrival = arrival;
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
