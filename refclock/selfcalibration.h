#pragma once

#include "core/monotonicclock.h"
#include "refclock/calibration.h"
#include "refclock/chronystatus.h"
#include "refclock/samplesink.h"
#include "share/servicestate.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class RefclockLog;

// The service calibrating itself: the sink the reference clock sends to, in front of chrony's.
// While the device has no delay (none given with --delay, none in the state for this device)
// and chrony follows a synchronised source other than the device (ChronyStatus::Synchronised),
// it withholds the samples from chrony, which so keeps following that source, and measures
// the delay from them (DelayCalibration). It stops once the median is known to within
// Precision at 95 % confidence (DelayCalibration::uncertainty, from MinimumFrames frames on),
// or after MaxLength; it refuses fewer than MinimumFrames frames, a median that is no delay, or
// one still uncertain by more than MaxUncertainty; otherwise it saves the result as the state
// (CalibrationState) and applies it at once. A refused calibration is not tried again until
// the device changes or the service restarts: the samples go to chrony uncalibrated. Without
// another source it says once that the samples go uncalibrated, and begins as soon as chrony
// follows one. Another device (its path) is calibrated anew. Over SNTP, the same with the
// server's answers in chrony's place.
class SelfCalibration : public SampleSink
{
public:
    static constexpr int MinimumFrames = 60;
    static constexpr std::chrono::microseconds Precision{250};
    static constexpr std::chrono::microseconds MaxUncertainty{1000};
    static constexpr std::chrono::minutes MaxLength{10};
    // How long an uncalibrated device's samples are held back while chrony reaches another
    // source but follows none yet: samples 130 ms off would keep it from ever choosing.
    static constexpr std::chrono::minutes MaxWaitForOtherSource{5};

    struct Settings
    {
        QString statePath; // CalibrationState's file
        // --delay, when the administrator gave one: it wins, and nothing is measured.
        std::optional<std::chrono::microseconds> administratorDelay;
        // The computer's clock is measured against a server over SNTP (SntpWatch) instead of
        // kept by chrony: each sample is corrected by the latest offset measured.
        bool overSntp = false;
    };

    // `apply` sets the reference clock's delay; `now` reads the date for the state.
    SelfCalibration(SampleSink *chrony, RefclockLog *log, Settings settings,
                    std::function<void(std::chrono::microseconds)> apply,
                    std::function<QDateTime()> now = &QDateTime::currentDateTimeUtc,
                    std::function<MonotonicTime()> monotonic = &MonotonicClock::now);

    // The device read now; a device other than the latest one is calibrated anew.
    void setDevice(const QString &device);
    // chrony's latest answer: a calibration begins, ends early, or waits for it.
    void chronySaid(const ChronyStatus &status);

    Result send(UtcTime systemTime, std::chrono::microseconds offset, QString *reason) override;

    bool calibrating() const { return m_calibrating; }
    // Whether it still needs to hear how the computer's clock is kept: a device to calibrate.
    bool needsReference() const;
    int frames() const { return m_measured.frames(); }
    std::chrono::microseconds delay() const;
    ServiceState::DelaySource source() const;
    QDateTime calibratedAt() const { return m_state.measured; }

private:
    // Whether samples are held back, neither measured nor sent: a device to calibrate, chrony
    // not asked yet, or reaching another source it does not follow yet.
    bool waitingForChrony() const;
    void begin(const QString &against);
    void checkEnd();
    void finish();
    void refuse(const QString &why);

    SampleSink *m_chrony;
    RefclockLog *m_log;
    Settings m_settings;
    std::function<void(std::chrono::microseconds)> m_apply;
    std::function<QDateTime()> m_now;
    std::function<MonotonicTime()> m_monotonic;
    QString m_device;
    bool m_deviceKnown = false;
    CalibrationState m_state; // valid when the device is calibrated
    DelayCalibration m_measured;
    bool m_calibrating = false;
    bool m_refused = false;
    bool m_saidUncalibrated = false;
    bool m_saidWaiting = false;
    std::optional<ChronyStatus> m_chronyStatus;  // chrony's latest answer
    std::optional<MonotonicTime> m_waitingSince; // since chrony reaches another source
    QString m_against;
    MonotonicTime m_startedAt;
};
