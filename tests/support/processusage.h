#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QtGlobal>

#include <algorithm>
#include <chrono>

#include <sys/resource.h>
#include <unistd.h>

// CPU time this process has used so far, in user and kernel mode together.
std::chrono::microseconds cpuTime();

// How often a thread or process has waited and been woken, from the voluntary context switches
// in its status file (/proc/thread-self/status, /proc/<pid>/status), or -1 when it cannot be read.
qint64 wakeUpsFrom(const QString &statusFile);

// How often all threads of process `pid` together have waited and been woken; -1 when that
// cannot be read.
qint64 wakeUpsOfProcess(qint64 pid);

// Whether process `pid` has `device` open.
bool hasOpen(qint64 pid, const QString &device);

// Resident memory of this process in bytes (the second field of /proc/self/statm, in pages),
// or -1 when it cannot be read.
qint64 residentBytes();
