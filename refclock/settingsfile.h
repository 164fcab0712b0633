#pragma once

#include <QString>
#include <QStringList>

// The service's settings, /etc/default/quorvel-refclock: shell assignments read by systemd's
// EnvironmentFile=, of which QUORVEL_REFCLOCK_OPTS holds the program's options.
namespace SettingsFile {

inline const QString OptionsVariable = QStringLiteral("QUORVEL_REFCLOCK_OPTS");

// `text` (the file's content, empty when there is none) with --delay `delay` among the
// options: an earlier --delay is replaced, every other option and line is kept. Without an
// options line, one is added holding `defaultOptions` and the delay.
QString withDelay(const QString &text, const QString &delay, const QStringList &defaultOptions);

// Writes the delay into the file at `path` (created when missing), in one step; false with
// `error` when it could not.
bool saveDelay(const QString &path, const QString &delay, const QStringList &defaultOptions,
               QString *error);

} // namespace SettingsFile
