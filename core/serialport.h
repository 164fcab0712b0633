#pragma once

#include "monotonicclock.h"

#include <QList>
#include <QString>
#include <QtGlobal>

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

    // The characters received since the previous read, in order of arrival and each once,
    // one character per byte; empty when nothing arrived. `arrivals` receives one entry per
    // character: when that character arrived.
    virtual int input(QString *text, QList<MonotonicTime> *arrivals) = 0;
};
