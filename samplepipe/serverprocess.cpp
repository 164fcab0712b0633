#include "samplepipe/serverprocess.h"

#include "samplepipe/samplepipe.h"

namespace {

// The process id of the running service, 0 when it is not running; false when the service
// manager cannot tell.
bool serviceProcess(DWORD *process, DWORD *error)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        *error = GetLastError();
        return false;
    }
    bool known = false;
    SC_HANDLE service = OpenServiceW(manager, SamplePipe::ServiceName, SERVICE_QUERY_STATUS);
    if (service != nullptr) {
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status),
                                 sizeof(status), &needed)) {
            known = true;
            *process = status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;
        } else {
            *error = GetLastError();
        }
        CloseServiceHandle(service);
    } else {
        *error = GetLastError();
    }
    CloseServiceHandle(manager);
    return known;
}

} // namespace

ServerCheck checkPipeServer(HANDLE pipe)
{
    ServerCheck check;
    ULONG server = 0;
    if (!GetNamedPipeServerProcessId(pipe, &server) || server == 0) {
        check.result = ServerCheck::NoServerId;
        check.error = GetLastError();
        return check;
    }
    check.serverProcess = server;
    if (!serviceProcess(&check.serviceProcess, &check.error)) {
        check.result = ServerCheck::NoService;
        return check;
    }
    check.result = check.serviceProcess != 0 && check.serviceProcess == server
                       ? ServerCheck::Service
                       : ServerCheck::NotService;
    return check;
}
