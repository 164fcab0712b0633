#pragma once

#include "refclock/refclocklog.h"

#include <QStringList>

// A reference clock's log kept in memory, for tests to count its lines.
class RecordingRefclockLog : public RefclockLog
{
public:
    QStringList lines;
    void write(const QString &line) override { lines.append(line); }
};
