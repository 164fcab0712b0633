#pragma once

#include "core/line.h"
#include "core/monotonicclock.h"

#include <QByteArray>
#include <QLatin1String>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <optional>

// The serial ports the window lists and quorvel-refclock takes: "Com1" to "Com4", each
// standing for its number.
inline constexpr QLatin1String PortNamePrefix("Com");
inline constexpr int FirstPortNumber = 1;
inline constexpr int LastPortNumber = 4;

// The port number that a port's name gives: the value of its character after "Com" when that
// is a decimal digit ("Com3" is 3), whatever the first three characters are; otherwise 0
// (also for texts shorter than four).
inline qint16 portNumberOf(const QString &name)
{
    const qsizetype position = PortNamePrefix.size();
    if (name.size() <= position)
        return 0;
    const QChar digit = name.at(position);
    if (digit < u'0' || digit > u'9')
        return 0;
    return static_cast<qint16>(digit.unicode() - u'0');
}

// The number of a listed port, "Com1" to "Com4" in any case; 0 for any other text.
inline qint16 listedPortNumber(const QString &name)
{
    const qint16 number = portNumberOf(name);
    if (number < FirstPortNumber || number > LastPortNumber
        || name.size() != PortNamePrefix.size() + 1
        || !name.startsWith(PortNamePrefix, Qt::CaseInsensitive))
        return 0;
    return number;
}

// Why a serial port could not be used, as the serial component found out. The window turns
// it into words for the user.
struct PortFailure
{
    enum class Kind {
        None,             // nothing known
        NoDevice,         // no device stands behind the port number
        DeviceMissing,    // the device that the port stands for is not there
        PermissionDenied, // the user may not open the device
        InUse,            // another program has the device open
        Other,            // anything else: `systemText` says what
    };

    Kind kind = Kind::None;
    int number = 0;           // the port number, as in "Com3"
    QString device;           // the device the port stands for, when there is one
    QString group;            // PermissionDenied: the group that owns the device, when known
    QString holder;           // InUse: the name of the program that has the device open, when known
    qint64 holderProcess = 0; // ... and its process number
    QString systemText;       // Other: the serial component's own words
};

// Error numbers of the serial port operations. Zero is success; every failure is greater
// than zero, which is all the port selection needs to know.
enum SerialError : int {
    SerialOk = 0,
    SerialNoDevice = 1,    // no device stands behind the port number
    SerialOpenFailed = 2,  // the device exists but could not be opened (busy, no rights)
    SerialPortIsOpen = 3,  // the operation needs the port closed
    SerialNotOpen = 4,     // the operation needs the port open
    SerialCloseFailed = 6, // the device failed while closing
};

// Bytes that arrived together, as one read took them, and when the last of them had arrived.
// The line delivers them back to back, so byte i of n arrived (n - 1 - i) character times
// before the last.
struct ReceivedChunk
{
    QByteArray bytes;
    MonotonicTime lastArrival;

    // When byte `index` arrived.
    MonotonicTime arrivalOf(qsizetype index) const
    {
        return lastArrival - (bytes.size() - 1 - index) * CharacterTime;
    }
};

// How the service a port reads the device through keeps the computer's time, for the window's
// line: briefly, and typed; the window words it.
struct KeepingTime
{
    enum class State {
        KeepsTime,   // the device's samples keep the computer's clock (or nothing says otherwise)
        Calibrating, // the service measures the device's delay; no samples meanwhile
        NotFollowed, // the device is not followed, for `reason`
    };
    enum class Reason {
        None,
        Checking,           // the device's clock is not trusted yet
        DeviceClockJumped,  // ... jumped
        DeviceClockStopped, // ... stands still
        ImplausibleDate,    // ... names a date before the program's
        NoDevice,           // the service has no device open
        NoChrony,           // no clock service answers the service
        NotSynchronised,    // the clock service follows no source
        FollowsOther,       // the clock service follows another source
        NoTimeService,      // Windows: the Time service's provider does not read the samples
    };
    State state = State::NotFollowed;
    Reason reason = Reason::None;

    bool operator==(const KeepingTime &other) const
    {
        return state == other.state && reason == other.reason;
    }
};

// The serial port the program listens on. It only ever reads: nothing is written to the
// device. Every operation returns SerialOk or an error number greater than zero and never
// throws.
class SerialPort
{
public:
    virtual ~SerialPort() = default;

    // Whether the port is open.
    virtual int portOpen(bool *open) = 0;

    // Opens the port with the current port number (true) or closes it (false). A failed
    // open leaves the port closed.
    virtual int setPortOpen(bool open) = 0;

    // Selects serial port `number`; takes effect at the next open.
    virtual int setCommPort(qint16 number) = 0;

    // The bytes received since the previous read, in order of arrival and each once, in the
    // chunks they arrived in; empty when nothing arrived.
    virtual int input(QList<ReceivedChunk> *chunks) = 0;

    // Why the latest operation that failed did; Kind::None when that is not known.
    virtual PortFailure lastFailure() const = 0;

    // How many streams of the device reading began since the port was made: each successful
    // open, and each time a port that stayed open began reading anew (a service it reads
    // through came back). What was judged of the device's frames starts over when it changes.
    virtual int streamsBegun() const { return 0; }

    // How the service the port reads through keeps the computer's time; nothing when it reads
    // the device itself, or the service does not say.
    virtual std::optional<KeepingTime> keepingTime() const { return std::nullopt; }
};
