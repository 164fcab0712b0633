#pragma once

#include <QString>

// Where quorvel-refclock offers a device to local clients: one socket per device. On Linux in
// the folder QUORVEL_SHARE_DIR names, /run/quorvel-refclock (the unit's RuntimeDirectory) when
// it is not set; on Windows a named pipe per port.
inline constexpr const char *ShareFolderVariable = "QUORVEL_SHARE_DIR";
inline constexpr const char *DefaultShareFolder = "/run/quorvel-refclock";

QString shareFolder();

// The socket for `device` (a path such as /dev/ttyUSB0 or a link to it): named after the
// device the path leads to, "ttyUSB0.socket", "pts_3.socket", so that the service given a
// path and the window given "ComN" meet at the same device. Empty when the name would not
// fit in a Unix socket's address. On Windows the pipe's name, which QLocalServer puts under
// \\.\pipe\: "quorvel-refclock-COM1" for "COM1" or "\\.\COM1".
QString shareSocketPath(const QString &device);
