#pragma once

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QString>

// Whether the Windows serial port `name` (COM1, ...) stands for a device of this machine, so
// that a test leaves it alone. On Windows, the ports the system reports. Under wine, which
// reports every COMn it has numbered, including those the wine prefix hides, whether the
// prefix maps COMn to a device of the machine (a link dosdevices\comn to a Unix device).
inline bool comPortHasDevice(const QString &name)
{
    QString prefix = qEnvironmentVariable("WINECONFIGDIR"); // set by wine: \??\Z:\...
    if (!prefix.isEmpty()) {
        prefix.remove(QLatin1String("\\??\\"));
        return QFileInfo::exists(prefix + QLatin1String("\\dosdevices\\") + name.toLower());
    }
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        if (port.portName() == name)
            return true;
    }
    return false;
}
