#pragma once

// Measuring the device's delay against the computer's clock while chrony keeps it from
// another source, and keeping what was measured as the service's state.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>

class RefclockLog;
struct RefclockOptions;

// quorvel-refclock --calibrate: refuses unless chrony keeps the computer's clock from another
// source (see ChronyStatus), then reads the device for the calibration's length through the
// same rules as the reference clock (frames the device's clock agrees with only), showing its
// progress when its output is a terminal, and prints the median delay, its spread and the
// option to use; with --save it writes it as the service's state (CalibrationState), which the
// running service takes up at its next check of chrony. Returns the program's exit status: 0
// when a delay was found (and saved), 1 otherwise.
int runCalibration(const RefclockOptions &options, RefclockLog *log);

// The device's delay measured frame by frame against the computer's clock, kept in sync by
// another source: how long after its second began (the frame's time, on the computer's
// clock) each frame's "$" arrived. The delay to use is the median: half the frames come
// sooner, half later, whatever their jitter.
class DelayCalibration
{
public:
    // Enough frames for a median worth using.
    static constexpr int MinimumFrames = 10;

    // A frame whose device time was `offset` ahead of the computer's clock at its "$" (a late
    // frame reads as the device behind: offset -0.132 s for a delay of 132 ms).
    void add(std::chrono::microseconds offset) { m_delays.append(-offset); }

    int frames() const { return int(m_delays.size()); }
    std::chrono::microseconds median() const { return quantile(0.5); }
    // How far apart the middle half of the delays lie: the third quartile less the first.
    std::chrono::microseconds spread() const { return quantile(0.75) - quantile(0.25); }
    // How far the true median may lie from median(), at 95 % confidence: 1.96 standard errors
    // of a median, 1.2533 sigma / sqrt(frames), with sigma taken from the spread (a normal
    // spread's quartiles lie 1.349 sigma apart), so that a few wild frames do not inflate it.
    std::chrono::microseconds uncertainty() const;
    // A delay at all: less than a second either way (more means a clock or zone set wrong).
    bool isDelay() const;

private:
    std::chrono::microseconds quantile(double fraction) const;

    QList<std::chrono::microseconds> m_delays;
};

// What the service measured: the device's delay, kept as the service's state in
// $STATE_DIRECTORY/calibration (/var/lib/quorvel-refclock/calibration without systemd), never
// in the settings under /etc. One "key=value" a line:
//   device=/dev/ttyUSB0  delay=0.1315  measured=2026-12-09T11:00:00Z
//   against=<the source the computer's clock followed>  frames=87  spread=0.0021
// A state for another device means this device is not calibrated.
struct CalibrationState
{
    QString device;
    std::chrono::microseconds delay{0};
    QDateTime measured; // UTC
    QString against;
    int frames = 0;
    std::chrono::microseconds spread{0};

    bool valid() const { return !device.isEmpty() && measured.isValid(); }

    QString text() const;
    // Nothing valid when `text` lacks the device, the delay or the date, or its delay is not
    // one (a second or more).
    static CalibrationState fromText(const QString &text);

    // The state file: in the folder STATE_DIRECTORY names, else /var/lib/quorvel-refclock.
    static QString defaultPath();
    // Reads `path`; nothing valid when it is missing or unreadable.
    static CalibrationState read(const QString &path);
    // Writes `path` in one step, making its folder when missing; false with `error` when it
    // could not.
    bool write(const QString &path, QString *error) const;
};
