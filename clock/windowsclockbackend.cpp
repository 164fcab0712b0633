#include "clock/windowsclockbackend.h"

#include "clock/elevatedclockchange.h"

#include <QDateTime>
#include <QThread>

#include <memory>

#include <windows.h>

namespace {

// Enables SE_SYSTEMTIME_NAME in the process token. Returns 0 or the error code.
DWORD enableSystemTimePrivilege()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return GetLastError();
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // AdjustTokenPrivileges succeeds even when the token lacks the privilege, and then leaves
    // ERROR_NOT_ALL_ASSIGNED as the last error; so the last error is the answer either way.
    if (LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(token);
    return error;
}

SYSTEMTIME getSystemTime()
{
    SYSTEMTIME value{};
    GetSystemTime(&value);
    return value;
}

DWORD setSystemTime(const SYSTEMTIME &value)
{
    return SetSystemTime(&value) ? ERROR_SUCCESS : GetLastError();
}

} // namespace

WindowsClockCalls systemWindowsClock()
{
    return WindowsClockCalls{enableSystemTimePrivilege, getSystemTime, setSystemTime};
}

namespace {

// Whether an error of enabling SE_SYSTEMTIME_NAME means that the token does not hold it: the
// process is not elevated.
bool lacksSystemTimePrivilege(DWORD error)
{
    return error == ERROR_NOT_ALL_ASSIGNED || error == ERROR_PRIVILEGE_NOT_HELD;
}

// Moves the clock by `offset` from what GetSystemTime reads right before, with the privilege
// already enabled. Returns ERROR_SUCCESS or the error code of SetSystemTime.
DWORD moveWindowsClock(const WindowsClockCalls &calls, std::chrono::microseconds offset)
{
    // The clock as it reads now, moved by the offset, to the millisecond SYSTEMTIME holds.
    const SYSTEMTIME now = calls.getSystemTime();
    const QDateTime read(QDate(now.wYear, now.wMonth, now.wDay),
                         QTime(now.wHour, now.wMinute, now.wSecond, now.wMilliseconds), Qt::UTC);
    const auto target = std::chrono::milliseconds(read.toMSecsSinceEpoch()) + offset;
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(target).count(), Qt::UTC);
    SYSTEMTIME value{};
    value.wYear = WORD(when.date().year());
    value.wMonth = WORD(when.date().month());
    value.wDayOfWeek = WORD(when.date().dayOfWeek() % 7); // Sunday is 0
    value.wDay = WORD(when.date().day());
    value.wHour = WORD(when.time().hour());
    value.wMinute = WORD(when.time().minute());
    value.wSecond = WORD(when.time().second());
    value.wMilliseconds = WORD(when.time().msec());
    return calls.setSystemTime(value);
}

ClockBackend::Outcome outcomeOf(DWORD error)
{
    switch (error) {
    case ERROR_SUCCESS:
        return ClockBackend::Outcome::Set;
    case ERROR_NOT_ALL_ASSIGNED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_ACCESS_DENIED:
    case ERROR_CANCELLED: // the user said no to the elevation prompt
        return ClockBackend::Outcome::NoPermission;
    default:
        return ClockBackend::Outcome::Refused;
    }
}

} // namespace

DWORD setWindowsClockBy(const WindowsClockCalls &calls, std::chrono::microseconds offset)
{
    const DWORD privilegeError = calls.enableSystemTimePrivilege();
    if (privilegeError != ERROR_SUCCESS)
        return privilegeError;
    return moveWindowsClock(calls, offset);
}

WindowsClockBackend::WindowsClockBackend(WindowsClockCalls calls, ElevationCalls elevation,
                                         QObject *parent)
    : ClockBackend(parent), m_calls(std::move(calls)), m_elevation(std::move(elevation))
{
}

void WindowsClockBackend::setTimeBy(std::chrono::microseconds offset)
{
    const DWORD privilegeError = m_calls.enableSystemTimePrivilege();
    if (privilegeError == ERROR_SUCCESS)
        answer(moveWindowsClock(m_calls, offset));
    else if (lacksSystemTimePrivilege(privilegeError) && m_elevation.runElevated)
        askElevated(offset);
    else
        answer(privilegeError);
}

void WindowsClockBackend::askElevated(std::chrono::microseconds offset)
{
    // The thread ends when the elevated program has; its result is read on this object's
    // thread, and not at all if this object is gone by then.
    auto result = std::make_shared<DWORD>(ERROR_SUCCESS);
    QThread *request = QThread::create(
        [run = m_elevation.runElevated, program = m_elevation.program,
         arguments = setTimeByArgument(offset), result] { *result = run(program, arguments); });
    connect(request, &QThread::finished, this, [this, result] { answer(*result); });
    connect(request, &QThread::finished, request, &QObject::deleteLater);
    request->start();
}

void WindowsClockBackend::answer(DWORD error)
{
    emit finished(outcomeOf(error),
                  error == ERROR_SUCCESS ? QString() : qt_error_string(int(error)));
}
