#pragma once

#include "clock/clockbackend.h"
#include "clock/elevation.h"

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

// Enables the privilege, then moves the clock by `offset` from what GetSystemTime reads right
// before. Returns ERROR_SUCCESS or the error code.
DWORD setWindowsClockBy(const WindowsClockCalls &calls, std::chrono::microseconds offset);

// Sets the clock on Windows with SetSystemTime to the clock as GetSystemTime reads it right
// before, plus the offset, in universal time (SetLocalTime would apply the daylight-saving rule
// of the moment of the call, which is wrong across a change), after enabling the process's
// SE_SYSTEMTIME_NAME privilege. Only an elevated administrator holds that privilege: an
// elevated window sets the clock directly, and answers before setTimeBy() returns.
//
// A window that is not elevated, given `elevation`, asks Windows to start Quorvel2.exe
// elevated for the one change (elevatedclockchange.h), whose exit code is the Windows error of
// the change. The window itself stays as it is, and stays live while the prompt is open: the
// request runs on a thread of its own, and the answer comes back to this object's thread.
// Without `elevation` it answers at once that it has no permission.
class WindowsClockBackend : public ClockBackend
{
    Q_OBJECT

public:
    explicit WindowsClockBackend(WindowsClockCalls calls, ElevationCalls elevation = {},
                                 QObject *parent = nullptr);

    void setTimeBy(std::chrono::microseconds offset) override;

private:
    void askElevated(std::chrono::microseconds offset);
    void answer(DWORD error);

    WindowsClockCalls m_calls;
    ElevationCalls m_elevation;
};
