#include "offsetline.h"

#include "deviceoffset.h"
#include "frameinstant.h"
#include "offsettext.h"

#include <QLabel>
#include <QTimer>

OffsetLine::OffsetLine(QLabel *label, std::function<ClockPair()> clocks, const QTimeZone &zone)
    : QObject(label), m_label(label), m_clocks(std::move(clocks)), m_zone(zone),
      m_stale(new QTimer(this))
{
    m_stale->setSingleShot(true);
    m_stale->setInterval(Stale);
    connect(m_stale, &QTimer::timeout, this, &OffsetLine::clear);
    clear();
}

void OffsetLine::show(const Frame &frame)
{
    const QTimeZone zone = m_zone.isValid() ? m_zone : QTimeZone::systemTimeZone();
    m_label->setText(
        offsetText(deviceOffset(frame, zone, m_clocks()), weekdayMatchesDate(frame)));
    m_stale->start();
}

void OffsetLine::clear()
{
    m_label->clear();
}
