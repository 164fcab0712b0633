#include "refclock/windowsservice.h"

#include "refclock/sntp.h"
#include "samplepipe/samplepipe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

namespace {

constexpr char ServiceFlag[] = "--service";
// How long the service manager waits for the next report while the service starts or stops.
constexpr DWORD WaitHintMs = 10000;

std::atomic<bool> g_running{false};
SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_started = nullptr; // signalled once ServiceMain has registered its handler
std::mutex g_handlerMutex;
std::function<void()> g_stopHandler;

void report(DWORD state, int exitStatus = 0)
{
    static DWORD checkPoint = 0;
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    if (exitStatus != 0) {
        status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        status.dwServiceSpecificExitCode = DWORD(exitStatus);
    }
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status.dwCheckPoint = pending ? ++checkPoint : 0;
    status.dwWaitHint = pending ? WaitHintMs : 0;
    SetServiceStatus(g_status, &status);
}

DWORD WINAPI control(DWORD code, DWORD, void *, void *)
{
    switch (code) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        report(SERVICE_STOP_PENDING);
        // Stop requests come only once the service reported running, when the loop exists.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [] {
                std::function<void()> handler;
                {
                    const std::lock_guard<std::mutex> lock(g_handlerMutex);
                    handler = g_stopHandler;
                }
                if (handler)
                    handler();
                else
                    QCoreApplication::exit(0);
            },
            Qt::QueuedConnection);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// What the service manager calls: registers the handler and hands over to the main thread,
// which runs the program; the service stays "starting" until it reports running.
void WINAPI serviceMain(DWORD, wchar_t **)
{
    g_status = RegisterServiceCtrlHandlerExW(SamplePipe::ServiceName, control, nullptr);
    if (g_status != nullptr)
        report(SERVICE_START_PENDING);
    SetEvent(g_started);
}

} // namespace

namespace WindowsService {

bool requested(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], ServiceFlag) == 0)
            return true;
    }
    return false;
}

int run(int argc, char **argv, int (*program)(int, char **))
{
    g_started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread dispatcher([] {
        SERVICE_TABLE_ENTRYW table[] = {
            {const_cast<wchar_t *>(SamplePipe::ServiceName), serviceMain}, {nullptr, nullptr}};
        StartServiceCtrlDispatcherW(table);
        SetEvent(g_started); // also when it failed, so that the wait below ends
    });
    WaitForSingleObject(g_started, INFINITE);
    if (g_status == nullptr) {
        dispatcher.join();
        std::fprintf(stderr, "quorvel-refclock: %s\n",
                     qPrintable(QCoreApplication::translate(
                         "quorvel-refclock",
                         "--service: solo el Administrador de servicios de Windows lo usa.")));
        CloseHandle(g_started);
        return 2;
    }

    // The program's arguments, less the flag: a changed argv, which QCoreApplication takes as
    // given rather than reading the process's command line again.
    std::vector<char *> arguments;
    for (int i = 0; i < argc; ++i) {
        if (i == 0 || std::strcmp(argv[i], ServiceFlag) != 0)
            arguments.push_back(argv[i]);
    }
    arguments.push_back(nullptr);
    g_running = true;
    const int status = program(int(arguments.size()) - 1, arguments.data());
    g_running = false;
    report(SERVICE_STOPPED, status);
    // The dispatcher returns once the service has stopped.
    dispatcher.join();
    CloseHandle(g_started);
    return status;
}

bool isRunning()
{
    return g_running;
}

QString logPath()
{
    // The known folder, as the installer's uninstaller finds it too: a service's environment
    // need not hold %ProgramData% (wine's services get another folder there).
    QString data = QStringLiteral("C:\\ProgramData");
    wchar_t *folder = nullptr;
    if (SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder) == S_OK)
        data = QString::fromWCharArray(folder);
    CoTaskMemFree(folder);
    return QDir::toNativeSeparators(data + QStringLiteral("/Quorvel/quorvel-refclock.log"));
}

QString statePath()
{
    return QDir::toNativeSeparators(
        QFileInfo(logPath()).dir().filePath(QStringLiteral("calibration")));
}

QString timeServiceServer()
{
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    QString list;
    if (RegGetValueW(HKEY_LOCAL_MACHINE,
                     L"SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters", L"NtpServer",
                     RRF_RT_REG_SZ, nullptr, value, &size)
        == ERROR_SUCCESS)
        list = QString::fromWCharArray(value);
    return Sntp::firstServer(list);
}

void setStopHandler(std::function<void()> handler)
{
    const std::lock_guard<std::mutex> lock(g_handlerMutex);
    g_stopHandler = std::move(handler);
}

void reportRunning()
{
    if (g_running)
        report(SERVICE_RUNNING);
}

} // namespace WindowsService
