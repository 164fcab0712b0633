#pragma once

#include "core/frame.h"
#include "frametime/clockagreement.h"
#include "frametime/clockpair.h"

#include <QObject>
#include <QTimeZone>

#include <chrono>
#include <functional>

class QLabel;
class QTimer;

// Keeps a label telling how far the computer's clock is from the device's (see offsetText()):
// once for every frame taken, read in the computer's time zone as the button that sets the
// clock reads it; empty before the first frame and once no frame has come for a while. While
// the device's last frames disagree with the computer's monotonic clock (by the refclock's
// rule, ClockAgreement) the line says so.
class OffsetLine : public QObject
{
    Q_OBJECT

public:
    // The line empties when no frame has come for this long.
    static constexpr std::chrono::seconds Stale{3};

    // `clocks` reads the monotonic and the real-time clock together, `zone` gives the zone of
    // the device's time, asked at each frame; by default the computer's own.
    explicit OffsetLine(QLabel *label, std::function<ClockPair()> clocks = ClockPair::now,
                        std::function<QTimeZone()> zone = QTimeZone::systemTimeZone);

    // A frame was taken: shows the offset at its "$".
    void show(const Frame &frame);

private:
    QLabel *label() const; // the parent
    void clear();

    std::function<ClockPair()> m_clocks;
    std::function<QTimeZone()> m_zone;
    QTimer *m_stale;
    ClockAgreement m_agreement;
};
