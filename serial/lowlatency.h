#pragma once

#include <functional>

struct serial_struct;

// The two requests a Linux serial driver answers about a port's settings, TIOCGSERIAL and
// TIOCSSERIAL on an open handle, as 0 or -1 with errno like ioctl(). Tests pass fakes.
struct SerialSettingsRequests
{
    std::function<int(int handle, serial_struct *settings)> read;
    std::function<int(int handle, const serial_struct *settings)> write;

    // The driver's own, through ioctl().
    static SerialSettingsRequests system();
};

// Asks a Linux serial driver to hand over received bytes at once (ASYNC_LOW_LATENCY: a USB
// adapter's latency timer at its least, 1 ms on FTDI's) instead of holding them, and puts the
// flag back as it was. Only that flag changes; the driver lets an ordinary user set it. A
// device without the request (a pseudo-terminal answers ENOTTY) or a driver that refuses is
// used as it is, silently.
class LowLatency
{
public:
    explicit LowLatency(SerialSettingsRequests requests = SerialSettingsRequests::system());

    // Sets the flag on the open port `handle`, remembering that it was clear; true when the
    // port is in low latency now.
    bool request(int handle);

    // Clears the flag again on `handle` if request() set it; does nothing otherwise.
    void restore(int handle);

private:
    SerialSettingsRequests m_requests;
    bool m_set = false; // request() set the flag, which restore() clears
};
