#pragma once

#include <QString>

// Why a serial port could not be used, as the serial component found out. The window turns
// it into words for the user.
struct PortFailure
{
    enum class Kind {
        None,             // nothing known
        NoDevice,         // no device stands behind the port number
        DeviceMissing,    // the device that the port stands for is not there
        PermissionDenied, // the user may not open the device
        InUse,            // another program has the device open
        Other,            // anything else: `systemText` says what
    };

    Kind kind = Kind::None;
    int number = 0;           // the port number, as in "Com3"
    QString device;           // the device the port stands for, when there is one
    QString group;            // PermissionDenied: the group that owns the device, when known
    QString holder;           // InUse: the name of the program that has the device open, when known
    qint64 holderProcess = 0; // ... and its process number
    QString systemText;       // Other: the serial component's own words
};
