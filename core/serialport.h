#pragma once

#include "core/line.h"
#include "core/monotonicclock.h"
#include "core/portfailure.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <chrono>

// Error numbers of the serial port operations. Zero is success; every failure is greater
// than zero, which is all the port selection needs to know.
enum SerialError : int {
    SerialOk = 0,
    SerialNoDevice = 1,    // no device stands behind the port number
    SerialOpenFailed = 2,  // the device exists but could not be opened (busy, no rights)
    SerialPortIsOpen = 3,  // the operation needs the port closed
    SerialNotOpen = 4,     // the operation needs the port open
    SerialReadFailed = 5,  // the device failed while reading
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
};
