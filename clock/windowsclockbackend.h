#pragma once

#include "clock/clockbackend.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

#include <windows.h>

// Setting the computer's clock on Windows: the system calls, starting a program elevated, the
// backend of the window, and the one change an elevated Quorvel2.exe makes for it.

// Starting a program elevated, which Windows does after asking the user (UAC). Kept apart so
// that tests hand in a fake and no prompt ever shows.
struct ElevationCalls
{
    // Starts `program` with `arguments` elevated and waits for it to end. Returns its exit code,
    // or the error of starting it: ERROR_CANCELLED when the user refused the prompt. It blocks
    // while the prompt is open, for as long as the user takes.
    std::function<DWORD(const QString &program, const QString &arguments)> runElevated;
    // The program to start: this one.
    QString program;
};

// The real calls: ShellExecuteEx with the "runas" verb, on Quorvel2.exe itself.
ElevationCalls systemElevation();

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
// elevated for the one change (elevatedClockChange() below), whose exit code is the Windows error
// of the change. The window itself stays as it is, and stays live while the prompt is open: the
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
