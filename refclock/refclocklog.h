#pragma once

#include <QString>

// Where the reference clock tells what happens: one line per change of state (and, when
// verbose, per frame). The program writes to stderr, where systemd's journal collects it.
class RefclockLog
{
public:
    virtual ~RefclockLog() = default;
    virtual void write(const QString &line) = 0;
};

// The log on stderr, each line written out at once.
class StandardErrorLog : public RefclockLog
{
public:
    void write(const QString &line) override;
};
