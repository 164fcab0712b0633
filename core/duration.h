#pragma once

#include <QString>

#include <chrono>
#include <optional>

// A length of time on a command line (quorvel-sim's, quorvel-refclock's), written as a decimal
// number with an optional sign and an optional unit:
// "3d", "-1.5h", "90m", "250ms", "-0.3" (no unit: seconds). Units: ms, s, m, h, d.
// Nothing when the text has any other form or the length is beyond 100 years either way.
std::optional<std::chrono::nanoseconds> parseDuration(const QString &text);
