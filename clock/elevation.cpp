#include "clock/elevation.h"

#include <QCoreApplication>
#include <QDir>

#include <objbase.h>
#include <shellapi.h>

namespace {

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

} // namespace

ElevationCalls systemElevation()
{
    return ElevationCalls{runElevated, QCoreApplication::applicationFilePath()};
}
