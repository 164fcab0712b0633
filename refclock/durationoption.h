#pragma once

#include <QString>

#include <chrono>
#include <optional>

// A length of time on quorvel-refclock's command line, written as quorvel-sim writes it: a
// decimal number with an optional sign and an optional unit, "0.132", "130ms", "90s", "10m",
// "1h" (no unit: seconds; units ms, s, m, h). Nothing for any other form or beyond a day
// either way.
std::optional<std::chrono::microseconds> parseDurationOption(const QString &text);

// `duration` in seconds with four decimals, as --delay takes it: "0.1320".
QString delayOptionValue(std::chrono::microseconds duration);
