#include "clock/windowsclockbackend.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QThread>

#include <algorithm>
#include <memory>

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

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

// How long the elevated program may take for its one change, once it runs.
constexpr DWORD ChangeTimeoutMs = 30000;

DWORD runElevated(const QString &program, const QString &arguments)
{
    // ShellExecuteEx may hand the request to COM; each thread that calls it initialises COM.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const std::wstring file = QDir::toNativeSeparators(program).toStdWString();
    const std::wstring parameters = arguments.toStdWString();
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // The process handle, to wait for its exit code; no error dialogs of the shell's own: a
    // failure comes back as an error code, which the window words.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    DWORD result = ERROR_SUCCESS;
    if (!ShellExecuteExW(&info)) {
        result = GetLastError();
    } else if (!info.hProcess) {
        result = ERROR_INVALID_HANDLE;
    } else {
        if (WaitForSingleObject(info.hProcess, ChangeTimeoutMs) != WAIT_OBJECT_0)
            result = WAIT_TIMEOUT;
        else if (!GetExitCodeProcess(info.hProcess, &result))
            result = GetLastError();
        CloseHandle(info.hProcess);
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return result;
}

const QLatin1String Prefix("--set-time-by=");

// Far more than a device's two-digit year can put between the clocks, and far less than what
// overflows the clock's arithmetic.
constexpr std::chrono::microseconds Limit = std::chrono::hours(24 * 366 * 100);

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

ElevationCalls systemElevation()
{
    return ElevationCalls{runElevated, QCoreApplication::applicationFilePath()};
}

QString setTimeByArgument(std::chrono::microseconds offset)
{
    return Prefix + QString::number(qint64(offset.count()));
}

std::optional<std::chrono::microseconds> setTimeByRequest(const QStringList &arguments)
{
    if (arguments.size() != 2 || !arguments.at(1).startsWith(Prefix))
        return std::nullopt;
    const QString number = arguments.at(1).mid(Prefix.size());
    // Digits with an optional minus sign only: no spaces, no plus, no other base.
    bool plain = !number.isEmpty();
    for (qsizetype i = 0; plain && i < number.size(); ++i)
        plain = (number.at(i) >= QLatin1Char('0') && number.at(i) <= QLatin1Char('9'))
                || (i == 0 && number.at(i) == QLatin1Char('-'));
    bool ok = false;
    const qint64 value = number.toLongLong(&ok);
    if (!plain || !ok)
        return std::nullopt;
    const std::chrono::microseconds offset(value);
    if (offset > Limit || offset < -Limit)
        return std::nullopt;
    return offset;
}

std::optional<int> elevatedClockChange(const QStringList &arguments, const WindowsClockCalls &calls)
{
    const bool asked =
        std::any_of(arguments.cbegin() + (arguments.isEmpty() ? 0 : 1), arguments.cend(),
                    [](const QString &argument) { return argument.startsWith(Prefix); });
    if (!asked)
        return std::nullopt;
    const std::optional<std::chrono::microseconds> offset = setTimeByRequest(arguments);
    if (!offset)
        return int(ERROR_INVALID_PARAMETER);
    return int(setWindowsClockBy(calls, *offset));
}
