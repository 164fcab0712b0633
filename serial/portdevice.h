#pragma once

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
