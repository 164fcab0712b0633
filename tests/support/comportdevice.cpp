#include "tests/support/comportdevice.h"

bool comPortHasDevice(const QString &name)
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
