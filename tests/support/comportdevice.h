#pragma once

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QString>

// Whether the Windows serial port `name` (COM1, ...) stands for a device of this machine, so
// that a test leaves it alone. On Windows, the ports the system reports. Under wine, which
// reports every COMn it has numbered, including those the wine prefix hides, whether the
// prefix maps COMn to a device of the machine (a link dosdevices\comn to a Unix device).
bool comPortHasDevice(const QString &name);
