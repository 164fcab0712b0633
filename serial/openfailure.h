#pragma once

#include "core/portfailure.h"

#include <QSerialPort>
#include <QString>

// Why opening `device`, which stands for port `number`, failed with QSerialPort's `error` and
// `text`: the device is not there, the user may not read it (and which group owns it), or
// another program has it (named when its lock file tells which); otherwise QSerialPort's own
// words. It only looks at the device and the lock files; it opens nothing.
PortFailure openFailure(int number, const QString &device, QSerialPort::SerialPortError error,
                        const QString &text);
