#pragma once

#include "samplepipe/samplepipe.h"
#include "timeprovider/samplehistory.h"

#include <windows.h>

#include <timeprov.h>

// One time provider opened by the Time service: its callbacks, the samples held under a lock
// and the thread that reads the pipe. Counted references: the Time service's handle, the reader
// thread and any command in progress each hold one, so that a reader that does not end in time
// never finds its provider freed.
class Provider
{
public:
    Provider(const WCHAR *name, const TimeProvSysCallbacks &callbacks);
    ~Provider();
    Provider(const Provider &) = delete;
    Provider &operator=(const Provider &) = delete;

    // Starts the reader thread, which holds a reference to the DLL until it ends.
    bool start();
    // Asks the reader to end; waits at most `ms` for it.
    void stop();
    bool waitStopped(DWORD ms);

    void addRef() { InterlockedIncrement(&m_references); }
    void release();

    // Commands of the Time service: a lock and a copy, never a wait on the pipe.
    HRESULT getSamples(TpcGetSamplesArgs *args);
    void timeJumped();
    void readPollInterval();

    // For the reader thread.
    HANDLE stopEvent() const { return m_stop; }
    HMODULE module() const { return m_module; }
    unsigned long long systemTime() const;
    void received(const SamplePipe::Message &message);
    void log(WORD type, const WCHAR *message) const;

private:
    template <typename T> bool sysInfo(TimeSysInfo what, T *value) const
    {
        return m_callbacks.pfnGetTimeSysInfo != nullptr
               && SUCCEEDED(m_callbacks.pfnGetTimeSysInfo(what, value));
    }

    WCHAR m_name[64] = {};
    TimeProvSysCallbacks m_callbacks = {};
    volatile LONG m_references = 1;
    HANDLE m_stop = nullptr;
    HANDLE m_thread = nullptr;
    HMODULE m_module = nullptr;

    SRWLOCK m_lock = SRWLOCK_INIT; // guards what follows
    SampleHistory m_history;
    unsigned long long m_lastAlertMs = 0;
    unsigned long long m_alertEveryMs = 1000; // the Time service's poll interval
};

// The reader thread of a Provider (its argument): connects to the service's pipe, checks that
// the service serves it, hands each valid sample to the provider, reconnects when the pipe goes
// away, and ends when the provider's stop event is set. It waits on nothing else: overlapped
// reads, and the stop event beside each of them. In pipereader.cpp.
DWORD WINAPI pipeReaderThread(void *provider);
