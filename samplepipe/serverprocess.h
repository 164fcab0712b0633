#pragma once

#include <windows.h>

// Whether a pipe is served by the running service quorvel-refclock: the process at the
// server end of the pipe (GetNamedPipeServerProcessId) must be the process that the Service
// Control Manager names for the service (QueryServiceStatusEx), so that no other local program
// can feed the Time service.
struct ServerCheck
{
    enum Result {
        Service,    // the pipe is the service's
        NotService, // another process serves it (or the service is not running)
        NoServerId, // the pipe does not tell its server's process
        NoService,  // the service manager does not know the service, or cannot be asked
    } result = NoService;
    DWORD serverProcess = 0;  // the pipe's server process, when known
    DWORD serviceProcess = 0; // the service's process, 0 when it is not running
    DWORD error = 0;          // GetLastError of the call that failed
};

ServerCheck checkPipeServer(HANDLE pipe);
