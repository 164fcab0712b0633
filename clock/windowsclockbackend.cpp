#include "clock/windowsclockbackend.h"

#include <QDateTime>

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

WindowsClockBackend::WindowsClockBackend(WindowsClockCalls calls, QObject *parent)
    : ClockBackend(parent), m_calls(std::move(calls))
{
}

void WindowsClockBackend::setTimeBy(std::chrono::microseconds offset)
{
    const DWORD privilegeError = m_calls.enableSystemTimePrivilege();
    if (privilegeError == ERROR_NOT_ALL_ASSIGNED || privilegeError == ERROR_PRIVILEGE_NOT_HELD) {
        emit finished(Outcome::NoPermission, qt_error_string(int(privilegeError)));
        return;
    }
    if (privilegeError != ERROR_SUCCESS) {
        emit finished(Outcome::Refused, qt_error_string(int(privilegeError)));
        return;
    }

    // The clock as it reads now, moved by the offset, to the millisecond SYSTEMTIME holds.
    const SYSTEMTIME now = m_calls.getSystemTime();
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

    const DWORD error = m_calls.setSystemTime(value);
    if (error == ERROR_SUCCESS) {
        emit finished(Outcome::Set, QString());
        return;
    }
    emit finished(error == ERROR_PRIVILEGE_NOT_HELD || error == ERROR_ACCESS_DENIED
                      ? Outcome::NoPermission
                      : Outcome::Refused,
                  qt_error_string(int(error)));
}
