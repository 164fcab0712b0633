#pragma once

#include "clockbackend.h"

// Sets the clock on Windows with SetSystemTime, in universal time (SetLocalTime would apply
// the daylight-saving rule of the moment of the call, which is wrong across a change), after
// enabling the process's SE_SYSTEMTIME_NAME privilege. Only an elevated administrator holds
// that privilege. Answers before setTime() returns.
class WindowsClockBackend : public ClockBackend
{
    Q_OBJECT

public:
    using ClockBackend::ClockBackend;

    void setTime(UtcTime utc) override;
};
