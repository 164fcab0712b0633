#include "refclock/refclocklog.h"

#include <cstdio>

void StandardErrorLog::write(const QString &line)
{
    std::fprintf(stderr, "quorvel-refclock: %s\n", qPrintable(line));
    std::fflush(stderr);
}
