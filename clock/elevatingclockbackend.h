#pragma once

#include "clock/windowsclockbackend.h"

#include <QString>

#include <functional>

#include <windows.h>

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

// "Poner en hora el PC" on Windows. An elevated window holds the right to set the clock, and
// sets it directly, as WindowsClockBackend does. A window that is not elevated asks Windows to
// start Quorvel2.exe elevated for the one change (elevatedclockchange.h); its exit code is the
// Windows error of the change. The window itself stays as it is, and stays live while the
// prompt is open: the request runs on a thread of its own and the answer comes back to the
// window's thread.
class ElevatingClockBackend : public ClockBackend
{
    Q_OBJECT

public:
    ElevatingClockBackend(WindowsClockCalls direct, ElevationCalls elevation,
                          QObject *parent = nullptr);

    void setTimeBy(std::chrono::microseconds offset) override;

private:
    void answer(DWORD error);

    WindowsClockCalls m_direct;
    ElevationCalls m_elevation;
};
