#include "ui/offsetline.h"

#include "frametime/frametime.h"
#include "ui/windowtexts.h"

#include <QLabel>
#include <QTimer>

OffsetLine::OffsetLine(QLabel *label, std::function<ClockPair()> clocks,
                       std::function<QTimeZone()> zone, ClockAgreement agreement)
    : QObject(label), m_clocks(std::move(clocks)), m_zone(std::move(zone)),
      m_stale(new QTimer(this)), m_agreement(agreement)
{
    m_stale->setSingleShot(true);
    m_stale->setInterval(Stale);
    connect(m_stale, &QTimer::timeout, this, &OffsetLine::fallSilent);
    label->clear();
}

void OffsetLine::show(const Frame &frame)
{
    const QTimeZone zone = m_zone();
    m_agreement.add(frameInstant(frame, zone), frame.arrival);
    QString text = offsetText(deviceOffset(frame, zone, m_clocks()), weekdayMatchesDate(frame),
                              m_agreement.state());
    if (m_keeping)
        text += keepingTimeText(*m_keeping);
    label()->setText(text);
    m_stale->start();
}

QLabel *OffsetLine::label() const
{
    return static_cast<QLabel *>(parent());
}

void OffsetLine::restart()
{
    m_agreement.reset();
}

void OffsetLine::fallSilent()
{
    label()->setText(deviceSilentText());
}
