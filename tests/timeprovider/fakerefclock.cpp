// Plays the service quorvel-refclock for the time provider's tests, and runs them:
//   fakerefclock rig-service STANDIN DLL    installs itself as the service quorvel-refclock,
//                                           which serves two bursts of samples; runs the stand-in
//   fakerefclock rig-squatter STANDIN DLL   the service runs but serves nothing; a plain process
//                                           (this program, "serve") squats on the pipe's name
//   fakerefclock service                    what the service manager starts
//   fakerefclock serve OFFSET               serves samples as a plain process
//   fakerefclock rig-chain STANDIN DLL SERVICE OFFSET_US WINDOW
//                                           installs SERVICE (the scripted quorvel-refclock)
//                                           as the service, its device OFFSET_US ahead; runs
//                                           the stand-in against it, then WINDOW (the
//                                           window's port on the shared device)
// Each rig removes the service it installed, and returns the stand-in's exit status.

#include "samplepipe/samplepipe.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

constexpr wchar_t NextBurstEvent[] = L"quorvel-timeprovider-test-next-burst";
constexpr long long Dispersion = 20000; // 2 ms: the service's own estimate
// The first burst: the offsets around OFFSET spread by 30 (root mean square), the last exactly
// OFFSET, then one out of bounds. After the stand-in's time jump, a connection that carries
// garbage, then one with OFFSET2 three times.
constexpr int Burst[] = {30, -30, 30, -30, 30, -30, 30, 0};

HANDLE g_stop = nullptr;
SERVICE_STATUS_HANDLE g_status = nullptr;

bool waitOrStop(HANDLE event, DWORD ms)
{
    HANDLE waits[2] = {g_stop, event};
    return WaitForMultipleObjects(event != nullptr ? 2 : 1, waits, FALSE, ms) == WAIT_OBJECT_0 + 1;
}

// Writes one sample, `ageSeconds` old; a `magic` other than SamplePipe::Magic makes it garbage.
bool send(HANDLE pipe, long long offset, unsigned sequence, unsigned long long ageSeconds = 0,
          std::uint32_t magic = SamplePipe::Magic)
{
    SamplePipe::Message message = {};
    message.magic = magic;
    message.version = SamplePipe::Version;
    message.size = sizeof(message);
    message.sequence = sequence;
    message.offset = offset;
    message.dispersion = Dispersion;
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    message.systemTime =
        ((static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime)
        - ageSeconds * 10000000;
    std::memcpy(message.source, "COM3", 5);
    OVERLAPPED overlapped = {};
    DWORD written = 0;
    const bool sent = (WriteFile(pipe, &message, sizeof(message), nullptr, &overlapped)
                       || GetLastError() == ERROR_IO_PENDING)
                      && GetOverlappedResult(pipe, &overlapped, &written, TRUE);
    Sleep(20);
    return sent && written == sizeof(message);
}

// The pipe as the service makes it, connected to its client; null when stopped.
HANDLE servePipe()
{
    HANDLE pipe = CreateNamedPipeW(
        SamplePipe::Name,
        PIPE_ACCESS_OUTBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 0, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        std::printf("fakerefclock: CreateNamedPipe: error %lu\n", GetLastError());
        return nullptr;
    }
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool connected = ConnectNamedPipe(pipe, &overlapped) || GetLastError() == ERROR_PIPE_CONNECTED;
    if (!connected && GetLastError() == ERROR_IO_PENDING) {
        connected = waitOrStop(overlapped.hEvent, INFINITE);
        if (!connected)
            CancelIoEx(pipe, &overlapped);
        DWORD unused;
        connected = GetOverlappedResult(pipe, &overlapped, &unused, TRUE) && connected;
    }
    CloseHandle(overlapped.hEvent);
    if (!connected) {
        CloseHandle(pipe);
        return nullptr;
    }
    return pipe;
}

void serve(long long offset, long long offset2)
{
    HANDLE pipe = servePipe();
    if (pipe == nullptr)
        return;
    unsigned sequence = 0;
    for (int step : Burst)
        send(pipe, offset + step, ++sequence);
    send(pipe, 777, ++sequence, 120); // measured too long ago: dropped
    HANDLE next = OpenEventW(SYNCHRONIZE, FALSE, NextBurstEvent);
    if (next != nullptr && waitOrStop(next, INFINITE)) {
        // The pipe goes away and comes back with a record that is not a sample: the provider
        // leaves, and nothing after it on that connection counts.
        CloseHandle(pipe);
        pipe = servePipe();
        send(pipe, 555, ++sequence, 0, 0);
        for (int i = 0; pipe != nullptr && i < 250 && send(pipe, 555, ++sequence); ++i) {
        }
        // Then the good samples, on the connection after.
        CloseHandle(pipe);
        pipe = servePipe();
        for (int i = 0; pipe != nullptr && i < 3; ++i)
            send(pipe, offset2, ++sequence);
    }
    if (next != nullptr)
        CloseHandle(next);
    waitOrStop(nullptr, INFINITE);
    if (pipe != nullptr)
        CloseHandle(pipe);
}

void report(DWORD state)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(g_status, &status);
}

DWORD WINAPI control(DWORD code, DWORD, void *, void *)
{
    if (code == SERVICE_CONTROL_STOP) {
        report(SERVICE_STOP_PENDING);
        SetEvent(g_stop);
    }
    return NO_ERROR;
}

// Arguments from StartService: "idle" (no pipe), or OFFSET OFFSET2.
void WINAPI serviceMain(DWORD argc, wchar_t **argv)
{
    g_status = RegisterServiceCtrlHandlerExW(SamplePipe::ServiceName, control, nullptr);
    report(SERVICE_RUNNING);
    if (argc >= 3)
        serve(std::wcstoll(argv[1], nullptr, 10), std::wcstoll(argv[2], nullptr, 10));
    else
        waitOrStop(nullptr, INFINITE);
    report(SERVICE_STOPPED);
}

SERVICE_STATUS_PROCESS status(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS state = {};
    DWORD needed = 0;
    QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&state),
                         sizeof(state), &needed);
    return state;
}

bool waitState(SC_HANDLE service, DWORD wanted)
{
    for (int i = 0; i < 600; ++i) {
        if (status(service).dwCurrentState == wanted)
            return true;
        Sleep(100);
    }
    return false;
}

void removeService(SC_HANDLE manager)
{
    SC_HANDLE old = OpenServiceW(manager, SamplePipe::ServiceName, SERVICE_ALL_ACCESS);
    if (old == nullptr)
        return;
    SERVICE_STATUS unused;
    if (ControlService(old, SERVICE_CONTROL_STOP, &unused))
        waitState(old, SERVICE_STOPPED);
    DeleteService(old);
    CloseServiceHandle(old);
}

DWORD runChild(wchar_t *commandLine, HANDLE *process)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &child)) {
        std::printf("fakerefclock: cannot start %ls: error %lu\n", commandLine, GetLastError());
        return 0;
    }
    CloseHandle(child.hThread);
    *process = child.hProcess;
    return child.dwProcessId;
}

// Runs `commandLine` to its end, waiting `seconds` at most; its exit status, not 0 when it did
// not start or did not end.
DWORD runToEnd(wchar_t *commandLine, DWORD seconds, const char *what)
{
    HANDLE child = nullptr;
    if (runChild(commandLine, &child) == 0)
        return 1;
    DWORD exitCode = 1;
    if (WaitForSingleObject(child, seconds * 1000) != WAIT_OBJECT_0)
        std::printf("FAIL: %s did not end in %lu s\n", what, seconds);
    GetExitCodeProcess(child, &exitCode);
    CloseHandle(child);
    return exitCode;
}

// The chain: the service is the real reference clock and pipe server (scriptedrefclock).
int rigChain(const wchar_t *standin, const wchar_t *dll, const wchar_t *program,
             const wchar_t *offsetUs, const wchar_t *window)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        std::printf("fakerefclock: no service manager: error %lu\n", GetLastError());
        return 1;
    }
    removeService(manager);
    wchar_t command[3 * MAX_PATH];
    std::swprintf(command, 3 * MAX_PATH, L"\"%ls\" --service %ls", program, offsetUs);
    SC_HANDLE service =
        CreateServiceW(manager, SamplePipe::ServiceName, SamplePipe::ServiceName,
                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                       SERVICE_ERROR_NORMAL, command, nullptr, nullptr, nullptr, nullptr, nullptr);
    bool started = false;
    for (int attempt = 0; service != nullptr && !started && attempt < 3; ++attempt)
        started =
            StartServiceW(service, 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
    if (!started || !waitState(service, SERVICE_RUNNING)) {
        std::printf("FAIL: the scripted quorvel-refclock does not run: error %lu\n",
                    GetLastError());
        removeService(manager);
        return 1;
    }
    std::printf("fakerefclock: scripted quorvel-refclock runs as process %lu\n",
                status(service).dwProcessId);
    // The stand-in expects the offset in 100 ns, within 5 ms.
    std::swprintf(command, 3 * MAX_PATH, L"\"%ls\" \"%ls\" chain %lld 50000", standin, dll,
                  std::wcstoll(offsetUs, nullptr, 10) * 10);
    DWORD exitCode = runToEnd(command, 150, "the stand-in");
    // The window reads the device through the service, which still runs.
    std::swprintf(command, 3 * MAX_PATH, L"\"%ls\"", window);
    if (runToEnd(command, 30, "the window's side") != 0)
        exitCode = 1;
    // The service ends when asked to stop.
    SERVICE_STATUS unused;
    const bool stopped = ControlService(service, SERVICE_CONTROL_STOP, &unused)
                         && waitState(service, SERVICE_STOPPED);
    std::printf("%s: the service stops when asked\n", stopped ? "ok" : "FAIL");
    CloseServiceHandle(service);
    removeService(manager);
    CloseServiceHandle(manager);
    return stopped ? static_cast<int>(exitCode) : 1;
}

int rig(bool squatter, const wchar_t *standin, const wchar_t *dll)
{
    HANDLE next = CreateEventW(nullptr, TRUE, FALSE, NextBurstEvent);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr || next == nullptr) {
        std::printf("fakerefclock: no service manager: error %lu\n", GetLastError());
        return 1;
    }
    removeService(manager); // one left by a run that was killed
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t command[2 * MAX_PATH];
    std::swprintf(command, 2 * MAX_PATH, L"\"%ls\" service", self);
    SC_HANDLE service =
        CreateServiceW(manager, SamplePipe::ServiceName, SamplePipe::ServiceName,
                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                       SERVICE_ERROR_NORMAL, command, nullptr, nullptr, nullptr, nullptr, nullptr);
    const wchar_t *serviceArgs[2] = {L"-1234567", L"98765"};
    const wchar_t *idle[1] = {L"idle"};
    // The first start in a new wine prefix can outlast the service manager's patience.
    bool started = false;
    for (int attempt = 0; service != nullptr && !started && attempt < 3; ++attempt)
        started = StartServiceW(service, squatter ? 1 : 2, squatter ? idle : serviceArgs)
                  || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
    if (!started || !waitState(service, SERVICE_RUNNING)) {
        std::printf("fakerefclock: the service does not run: error %lu\n", GetLastError());
        removeService(manager);
        return 1;
    }
    std::printf("fakerefclock: service %ls runs as process %lu\n", SamplePipe::ServiceName,
                status(service).dwProcessId);

    HANDLE squat = nullptr;
    if (squatter) {
        std::swprintf(command, 2 * MAX_PATH, L"\"%ls\" serve -1234567", self);
        std::printf("fakerefclock: squatter is process %lu\n", runChild(command, &squat));
    }
    if (squatter)
        std::swprintf(command, 2 * MAX_PATH, L"\"%ls\" \"%ls\" refused", standin, dll);
    else
        std::swprintf(command, 2 * MAX_PATH,
                      L"\"%ls\" \"%ls\" sample -1234567 20030 98765 20000 %ls", standin, dll,
                      NextBurstEvent);
    const DWORD exitCode = runToEnd(command, 150, "the stand-in");
    if (squat != nullptr) {
        TerminateProcess(squat, 0);
        CloseHandle(squat);
    }
    CloseServiceHandle(service);
    removeService(manager);
    CloseServiceHandle(manager);
    CloseHandle(next);
    return static_cast<int>(exitCode);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (argc == 2 && std::wcscmp(argv[1], L"service") == 0) {
        SERVICE_TABLE_ENTRYW table[] = {
            {const_cast<wchar_t *>(SamplePipe::ServiceName), serviceMain}, {nullptr, nullptr}};
        return StartServiceCtrlDispatcherW(table) ? 0 : 1;
    }
    if (argc == 3 && std::wcscmp(argv[1], L"serve") == 0) {
        serve(std::wcstoll(argv[2], nullptr, 10), 0);
        return 0;
    }
    if (argc == 4 && std::wcscmp(argv[1], L"rig-service") == 0)
        return rig(false, argv[2], argv[3]);
    if (argc == 4 && std::wcscmp(argv[1], L"rig-squatter") == 0)
        return rig(true, argv[2], argv[3]);
    if (argc == 7 && std::wcscmp(argv[1], L"rig-chain") == 0)
        return rigChain(argv[2], argv[3], argv[4], argv[5], argv[6]);
    std::printf("usage: fakerefclock rig-service|rig-squatter STANDIN DLL\n");
    return 2;
}
