#pragma once

#include "refclock/samplesink.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

#include <windows.h>

// The Windows side of the samples: the pipe \\.\pipe\quorvel-refclock-samples that the Time
// service provider (QuorvelTimeProvider.dll) reads, served as timeprovider/samplepipe.h says.
// It creates the pipe as first and only instance, outbound, overlapped; waits for the provider
// without blocking (an overlapped ConnectNamedPipe checked at each sample); writes each sample
// with one overlapped WriteFile and drops a sample while the previous one is still pending.
// When the provider is gone (a write fails), the pipe is closed and made anew for the next
// connection. Windows only.
class SamplePipeServer : public SampleSink
{
public:
    // `source`: the port as the provider names the device, "COM1".
    explicit SamplePipeServer(const QByteArray &source);
    ~SamplePipeServer() override;
    SamplePipeServer(const SamplePipeServer &) = delete;
    SamplePipeServer &operator=(const SamplePipeServer &) = delete;

    // The pipe's name, as the log shows it.
    static QString name();

    Result send(UtcTime systemTime, std::chrono::microseconds offset, QString *reason) override;
    // Whether the provider is connected: as the latest sample found it, or since then (a wait
    // that ended while no sample was sent, as while calibrating).
    std::optional<bool> receiverConnected() const override;

private:
    enum class State { Closed, Waiting, Connected };

    // Makes the pipe and starts waiting for the provider; false (with `reason`) when the name
    // is held by another process.
    bool create(QString *reason);
    void close();
    // Whether the provider has connected; drops the pipe when the wait failed.
    bool connected(QString *reason);
    // Whether the previous write is still under way; drops the pipe when it failed.
    bool writePending(QString *reason);

    QByteArray m_source;
    std::uint32_t m_sequence = 0;
    HANDLE m_pipe = INVALID_HANDLE_VALUE;
    HANDLE m_event = nullptr; // signalled when the overlapped wait or write ends
    OVERLAPPED m_overlapped = {};
    QByteArray m_pending; // the bytes of the write under way, kept until it completes
    bool m_writing = false;
    State m_state = State::Closed;
};
