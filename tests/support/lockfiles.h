#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QStringList>

// The lock files that QSerialPort keeps for `device` while it has it open, as it names them
// ("/dev/ttyUSB0": LCK..ttyUSB0, "/tmp/x/device": LCK.._tmp_x_device), that exist now.
QStringList existingLockFiles(const QString &device);
