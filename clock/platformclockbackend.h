#pragma once

class ClockBackend;
class QObject;

// The real way of setting this system's clock: on Windows SetSystemTime; elsewhere
// systemd-timedated on the system bus, or, when it is not there, clock_settime for a process
// that holds the right. The backend changes the machine's clock: the program uses it, tests
// never do.
ClockBackend *createPlatformClockBackend(QObject *parent);
