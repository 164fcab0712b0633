#pragma once

#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <chrono>
#include <optional>

// How quorvel-refclock runs, as chosen on its command line.
struct RefclockOptions
{
    // The conventional place of the socket: chrony's own manual and Debian's AppArmor profile
    // for chronyd expect sources' sockets at /run/chrony.<name>.sock.
    static inline const QString DefaultSocket = QStringLiteral("/run/chrony.quorvel.sock");

    int portNumber = 0; // 1 to 4, resolved as the window resolves "ComN"; 0 with a path
    QString devicePath; // an explicit device, such as /dev/ttyUSB0; empty with a number
    QString socketPath = DefaultSocket;           // chrony's refclock SOCK socket
    QTimeZone zone = QTimeZone::systemTimeZone(); // the device's local time zone
    bool verbose = false;                         // log every frame and sample too
    std::chrono::microseconds delay{0}; // how late the device's "$" comes after its second
    // How long a new time of the device's clock must hold, without a break, to be followed.
    std::chrono::microseconds acceptStepAfter = std::chrono::minutes(15);

    // Calibration: measure the delay for `calibrationLength` instead of serving chrony.
    static constexpr std::chrono::minutes DefaultCalibration{10};
    bool calibrate = false;
    std::chrono::microseconds calibrationLength = DefaultCalibration;
    bool save = false;           // write the delay found into `statePath`
    QString statePath;           // the measured delay (CalibrationState); empty: its default
    QString chronyCommandSocket; // chronyc's -h; empty: chronyc's own default
    // How often the service asks chrony how it keeps the clock.
    std::chrono::milliseconds chronyInterval{60000};
    bool status = false;     // --status: ask the running service and print its state
    bool delayGiven = false; // --delay was given: it wins over the calibration
    // Calibrate against this NTP server over SNTP ("host" or "host:port") instead of asking
    // chrony; on Windows, when empty, the server the Time service was set to use.
    QString sntpServer;

    // How the port is named in the log: "puerto 1" or the path.
    QString portLabel() const;
};

// The outcome of reading a command line.
struct ParsedRefclockOptions
{
    RefclockOptions options;
    QString error;     // what is wrong with the arguments; empty when they are valid
    bool help = false; // --help was asked for: show helpText and end
    QString helpText;
};

// Reads the command line `arguments` (the program name first).
ParsedRefclockOptions parseRefclockOptions(const QStringList &arguments);

// A length of time on quorvel-refclock's command line, written as quorvel-sim writes it: a
// decimal number with an optional sign and an optional unit, "0.132", "130ms", "90s", "10m",
// "1h" (no unit: seconds; units ms, s, m, h). Nothing for any other form or beyond a day
// either way.
std::optional<std::chrono::microseconds> parseDurationOption(const QString &text);

// `duration` in seconds with four decimals, as --delay takes it: "0.1320".
QString delayOptionValue(std::chrono::microseconds duration);
