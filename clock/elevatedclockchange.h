#pragma once

#include "clock/windowsclockbackend.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// The one change an elevated Quorvel2.exe makes for a window that is not elevated: moving the
// clock by an offset handed over on its command line, as "--set-time-by=<microseconds>". The
// offset is the device's time minus the computer's, read together when the button was pressed;
// the elevated program applies it to the clock as it reads at the moment of the change, so
// the change is right however long the elevation prompt stayed open.

// The command line that asks for the change.
QString setTimeByArgument(std::chrono::microseconds offset);

// The offset that `arguments` (the program's, its own name first) ask the elevated program to
// move the clock by: exactly one argument "--set-time-by=N", N a whole number of microseconds
// within a hundred years either way.
std::optional<std::chrono::microseconds> setTimeByRequest(const QStringList &arguments);

// The elevated program's whole work. For a command line that asks for the change, makes it
// with `calls` and returns the exit code: the Windows error of the change, ERROR_SUCCESS when
// it was made, or ERROR_INVALID_PARAMETER for a request that is not well formed (the clock is
// then left alone). Nothing for any other command line, which the program reads as usual.
std::optional<int> elevatedClockChange(const QStringList &arguments,
                                       const WindowsClockCalls &calls);
