#pragma once

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
