#pragma once

#include "core/serialport.h"

#include <QSerialPort>
#include <QString>
#include <QStringList>

// The device that stands behind serial port `number` (1 to 4), or an empty text when there
// is none. On Windows port n is COMn. Elsewhere the environment variable QUORVEL_COMn names
// the device when it is set (a USB adapter, a pseudo-terminal); otherwise port n is the n-th
// serial port the system reports (PortListing), in the order of their names, so that a lone
// USB adapter is port 1.
QString portDevice(int number);

// The system's serial ports, listed on a thread of their own: at once when made, and again
// whenever /dev changes (a device plugged in or out), so that resolving "ComN" reads the
// latest listing and never waits on the system's enumeration, but for the very first one.
class PortListing
{
public:
    // The listing every port of this process uses; made (and its first listing begun) on
    // the first call, which the program makes at its start.
    static PortListing &shared();

    // The latest listing, naturally sorted; waits only while the first is under way.
    QStringList devices();

    PortListing(const PortListing &) = delete;
    PortListing &operator=(const PortListing &) = delete;

private:
    PortListing();
    struct Worker;
    Worker *m_worker; // lives on its own thread as long as the process
};

// `names` in natural order: ttyS2 before ttyS10, ttyS* before ttyUSB*.
QStringList naturallySorted(QStringList names);

// Why opening `device`, which stands for port `number`, failed with QSerialPort's `error` and
// `text`: the device is not there, the user may not read it (and which group owns it), or
// another program has it (named when its lock file tells which); otherwise QSerialPort's own
// words. It only looks at the device and the lock files; it opens nothing.
PortFailure openFailure(int number, const QString &device, QSerialPort::SerialPortError error,
                        const QString &text);
