#pragma once

#include "clock/clockbackend.h"

#include <functional>

#include <windows.h>

// The system calls that setting the clock on Windows needs. Kept apart so that tests hand in
// recorders and the machine's clock is never touched.
struct WindowsClockCalls
{
    // Enables SE_SYSTEMTIME_NAME in the process token; returns ERROR_SUCCESS or the error code
    // (ERROR_NOT_ALL_ASSIGNED when the token does not hold the privilege).
    std::function<DWORD()> enableSystemTimePrivilege;
    // GetSystemTime: the clock now, in universal time.
    std::function<SYSTEMTIME()> getSystemTime;
    // SetSystemTime; returns ERROR_SUCCESS or the error code of the failure.
    std::function<DWORD(const SYSTEMTIME &)> setSystemTime;
};

// The real calls. They change this machine's clock: only the program itself uses them.
WindowsClockCalls systemWindowsClock();

// Whether an error of enabling SE_SYSTEMTIME_NAME means that the token does not hold it: the
// process is not elevated.
bool lacksSystemTimePrivilege(DWORD error);

// Moves the clock by `offset` from what GetSystemTime reads right before, with the privilege
// already enabled. Returns ERROR_SUCCESS or the error code of SetSystemTime.
DWORD moveWindowsClock(const WindowsClockCalls &calls, std::chrono::microseconds offset);

// Enables the privilege, then moves the clock. Returns ERROR_SUCCESS or the error code.
DWORD setWindowsClockBy(const WindowsClockCalls &calls, std::chrono::microseconds offset);

// The outcome of setting the clock that a Windows error code stands for, and the system's
// text for it (empty on success).
ClockBackend::Outcome windowsClockOutcome(DWORD error);
QString windowsErrorText(DWORD error);

// Sets the clock on Windows with SetSystemTime to the clock as GetSystemTime reads it right
// before, plus the offset, in universal time (SetLocalTime would apply the daylight-saving rule
// of the moment of the call, which is wrong across a change), after enabling the process's
// SE_SYSTEMTIME_NAME privilege. Only an elevated administrator holds that privilege. Answers
// before setTimeBy() returns.
class WindowsClockBackend : public ClockBackend
{
    Q_OBJECT

public:
    explicit WindowsClockBackend(WindowsClockCalls calls, QObject *parent = nullptr);

    void setTimeBy(std::chrono::microseconds offset) override;

private:
    WindowsClockCalls m_calls;
};
