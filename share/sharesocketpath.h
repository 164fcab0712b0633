#pragma once

#include <QString>

// Where quorvel-refclock offers a device to local clients: one socket per device, in the
// folder QUORVEL_SHARE_DIR names, /run/quorvel-refclock (the unit's RuntimeDirectory) when it
// is not set.
inline constexpr const char *ShareFolderVariable = "QUORVEL_SHARE_DIR";
inline constexpr const char *DefaultShareFolder = "/run/quorvel-refclock";

QString shareFolder();

// The socket for `device` (a path such as /dev/ttyUSB0 or a link to it): named after the
// device the path leads to, "ttyUSB0.socket", "pts_3.socket", so that the service given a
// path and the window given "ComN" meet at the same device. Empty when the name would not
// fit in a Unix socket's address.
QString shareSocketPath(const QString &device);
