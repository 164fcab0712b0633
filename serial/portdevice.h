#pragma once

#include "core/serialport.h"

#include <QSerialPort>
#include <QString>
#include <QStringList>

// The device that stands behind serial port `number` (1 to 4), or an empty text when there
// is none. On Windows port n is COMn. Elsewhere the environment variable QUORVEL_COMn names
// the device when it is set (a USB adapter, a pseudo-terminal); otherwise port n is the n-th
// serial port the system reports, in the order of their names, so that a lone USB adapter
// is port 1.
QString portDevice(int number);

// `names` in natural order: ttyS2 before ttyS10, ttyS* before ttyUSB*.
QStringList naturallySorted(QStringList names);

// Why opening `device`, which stands for port `number`, failed with QSerialPort's `error` and
// `text`: the device is not there, the user may not read it (and which group owns it), or
// another program has it (named when its lock file tells which); otherwise QSerialPort's own
// words. It only looks at the device and the lock files; it opens nothing.
PortFailure openFailure(int number, const QString &device, QSerialPort::SerialPortError error,
                        const QString &text);
