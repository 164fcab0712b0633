#pragma once

#include "core/frame.h"
#include "core/serialport.h"
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
// clock reads it; empty before the first frame, and once no frame has come for a while it says
// that the device is silent, never showing an old figure as current. While the device's last
// frames disagree with the computer's monotonic clock, or name a date before this program (by
// the refclock's rule, ClockAgreement), the line says so; that judgement starts over with
// every stream the port begins (restart()).
class OffsetLine : public QObject
{
    Q_OBJECT

public:
    // The line says the device is silent when no frame has come for this long.
    static constexpr std::chrono::seconds Stale{3};

    // `clocks` reads the monotonic and the real-time clock together, `zone` gives the zone of
    // the device's time, asked at each frame; by default the computer's own. `agreement` is
    // the rule the device's clock is judged by (tests of old dates give an earlier limit).
    explicit OffsetLine(QLabel *label, std::function<ClockPair()> clocks = ClockPair::now,
                        std::function<QTimeZone()> zone = QTimeZone::systemTimeZone,
                        ClockAgreement agreement = ClockAgreement());

    // A frame was taken: shows the offset at its "$".
    void show(const Frame &frame);

    // How the service the window reads through keeps the computer's time (nothing: it reads
    // the device itself): said after the offset, from the next frame on.
    void setKeepingTime(std::optional<KeepingTime> keeping) { m_keeping = keeping; }

    // The port began a new stream (opened again, the device plugged in again, the service's
    // stream begun anew): the device's clock is judged anew from its next frame.
    void restart();

private:
    QLabel *label() const; // the parent
    void fallSilent();

    std::function<ClockPair()> m_clocks;
    std::function<QTimeZone()> m_zone;
    QTimer *m_stale;
    ClockAgreement m_agreement;
    std::optional<KeepingTime> m_keeping;
};
