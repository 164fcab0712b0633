#pragma once

#include <QString>

#include <functional>

// quorvel-refclock as the Windows service "quorvel-refclock". With --service on its command
// line (as the service's ImagePath has it) the program connects to the Service Control Manager
// (StartServiceCtrlDispatcher, on a thread of its own, so that Qt keeps the main thread), runs
// the program on the rest of its arguments, and reports its state: starting, running once the
// program is ready, stopped with the program's exit status. Stop and shutdown requests reach
// the handler given to setStopHandler() in the Qt loop's thread. Windows only.
namespace WindowsService {

// Whether `--service` is among the arguments.
bool requested(int argc, char **argv);

// Runs `program` with the arguments less `--service` as the service; its exit status, or 2
// when the program was not started by the Service Control Manager.
int run(int argc, char **argv, int (*program)(int, char **));

// Whether the program runs as the service (inside run()).
bool isRunning();

// Where the service writes its log: %ProgramData%\Quorvel\quorvel-refclock.log (the known
// folder ProgramData, normally C:\ProgramData).
QString logPath();
// Where the service keeps the delay it measured: calibration beside its log.
QString statePath();

// The NTP server the Windows Time service was set to use (the first of its Parameters\NtpServer
// list); time.windows.com, its default, when it names none.
QString timeServiceServer();

// What a stop or shutdown request does; it runs in the thread of QCoreApplication's loop.
void setStopHandler(std::function<void()> handler);

// Tells the Service Control Manager that the service runs and takes stop requests. Does
// nothing outside run().
void reportRunning();

} // namespace WindowsService
