#pragma once

// Measuring the device's delay against the computer's clock while chrony keeps it from
// another source, and keeping what was measured in the service's settings.

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
// option to use; with --save it writes that option into the service's settings. Returns the
// program's exit status: 0 when a delay was found (and saved), 1 otherwise.
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

private:
    std::chrono::microseconds quantile(double fraction) const;

    QList<std::chrono::microseconds> m_delays;
};

// The service's settings, /etc/default/quorvel-refclock: shell assignments read by systemd's
// EnvironmentFile=, of which QUORVEL_REFCLOCK_OPTS holds the program's options.
namespace SettingsFile {

inline const QString OptionsVariable = QStringLiteral("QUORVEL_REFCLOCK_OPTS");

// `text` (the file's content, empty when there is none) with --delay `delay` among the
// options: an earlier --delay is replaced, every other option and line is kept. Without an
// options line, one is added holding `defaultOptions` and the delay.
QString withDelay(const QString &text, const QString &delay, const QStringList &defaultOptions);

// Writes the delay into the file at `path` (created when missing), in one step; false with
// `error` when it could not.
bool saveDelay(const QString &path, const QString &delay, const QStringList &defaultOptions,
               QString *error);

} // namespace SettingsFile
