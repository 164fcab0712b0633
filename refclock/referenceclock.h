#pragma once

#include "core/frame.h"
#include "core/line.h"
#include "frametime/clockagreement.h"
#include "frametime/clockpair.h"
#include "refclock/samplesink.h"

#include <QString>
#include <QTimeZone>

#include <chrono>
#include <functional>

class RefclockLog;
class SerialPort;

// The device as chrony's reference clock. poll() runs every 100 ms, as the window's poll does:
// it keeps the port open (one try every 2 s while the device is missing), reads it, takes each
// frame at its CR LF (FrameDecoder) and, for each whole frame that names an instant, sends
// chrony one sample: the computer's time when the frame's "$" arrived and how far the device was
// ahead of it, by the timing model of frametime/frametime.h (the line's character time and
// the device's delay, as calibrated, taken off the arrival). Frames that break the rules,
// dates and times that do not convert and the hour skipped in spring give no sample; in the
// hour repeated in autumn the frame's summer flag decides. Samples are sent only while the
// device's clock advances with the computer's monotonic clock (see ClockAgreement): not after
// a jump or while its time stands still, and only from the third frame in a row that agrees,
// at the start, after such a stop and after the device was plugged in again. Samples are
// dropped while chrony does not listen. The log gets one line per change of state (port open,
// device missing or lost, chrony listening or not, the device's clock jumping, standing still
// or agreeing again), never one per try. It never touches the computer's clock.
class ReferenceClock
{
public:
    static constexpr std::chrono::milliseconds PollInterval = ::PollInterval; // the line's
    static constexpr std::chrono::milliseconds RetryInterval{2000};

    struct Settings
    {
        QTimeZone zone;      // the device's local time zone
        QString portLabel;   // the port as the log names it
        QString socketLabel; // the samples' socket as the log names it
        bool verbose = false;
        // The device's delay from the start of its second to its "$" (0 unless calibrated).
        std::chrono::nanoseconds delay{0};
        // Who reads the samples, as the log names it: chrony on Linux, the Windows Time
        // service's provider on Windows. Empty while calibrating: the samples are measured,
        // nobody receives them, and the log says nothing of a receiver.
        QString receiver = QStringLiteral("chrony");
        // How long a new time of the device's clock must hold before it is followed.
        std::chrono::microseconds acceptStepAfter = ClockAgreement::DefaultAcceptStepAfter;
        // No device time before this is believed (tests of old frames set it earlier).
        UtcTime earliest = ClockAgreement::buildDate();
    };

    // The port must have its number or path set; `clocks` reads the computer's clocks (tests
    // pass a fixed pair). The port, sink and log stay the caller's.
    ReferenceClock(SerialPort *port, SampleSink *sink, RefclockLog *log, Settings settings,
                   std::function<ClockPair()> clocks = &ClockPair::now);

    void poll();

    // Closes the port when it is open.
    void stop();

    int samplesSent() const { return m_samplesSent; }
    int samplesDropped() const { return m_samplesDropped; }

    // The device's delay from now on (a calibration's result), for the samples that follow.
    void setDelay(std::chrono::nanoseconds delay) { m_settings.delay = delay; }
    std::chrono::nanoseconds delay() const { return m_settings.delay; }

    enum class PortState { Unknown, Open, Missing, Lost };
    PortState portState() const { return m_portState; }
    // Why the port could not be opened, as the log said it.
    QString portReason() const { return m_portReason; }
    ClockAgreement::State agreement() const { return m_agreement.state(); }

private:
    enum class ChronyState { Unknown, Listening, NotListening };

    void keepPortOpen();
    void takeFrame(const Frame &frame);
    void sendSample(UtcTime stamp, std::chrono::microseconds offset);
    void logAgreement(ClockAgreement::State before, UtcTime device, const ClockPair &clocks);
    void setPortState(PortState state, const QString &reason = QString());
    void setChronyState(ChronyState state, const QString &reason = QString());

    SerialPort *m_port;
    SampleSink *m_sink;
    RefclockLog *m_log;
    Settings m_settings;
    std::function<ClockPair()> m_clocks;
    FrameDecoder m_decoder;
    ClockAgreement m_agreement;
    bool m_stopLogged = false; // a stop was logged, and no start since
    // The moment a new time of the device would be followed, as the log last said it.
    std::optional<MonotonicTime> m_loggedFollowAt;
    int m_stepsFollowed = 0;
    PortState m_portState = PortState::Unknown;
    QString m_portReason;     // why the port could not be opened, as the log last said
    bool m_portTried = false; // since the device was lost
    ChronyState m_chronyState = ChronyState::Unknown;
    QString m_chronyReason;
    int m_pollsUntilRetry = 0;
    int m_samplesSent = 0;
    int m_samplesDropped = 0;
};
