#pragma once

#include "core/line.h"
#include "serial/receivedbuffer.h"
#ifdef Q_OS_LINUX
#include "serial/lowlatency.h"
#endif

#include <QObject>
#include <QSerialPort>
#include <QString>

#include <atomic>
#include <chrono>
#include <optional>

class QTimer;

// The serial port on the reading thread: it does nothing but wait for bytes and date them the
// moment they arrive, so that a busy window cannot delay the dating of a frame's "$". What
// it reads goes into a ReceivedBuffer, which the poll empties. A device that goes away closes
// the port here, and deviceLost() tells the owner.
//
// The thread is woken by the first byte of a burst, which it dates exactly, and then lets the
// rest of the burst gather for a while before it reads it all at once: a frame costs about
// three wake-ups instead of one per character. The bytes read then are dated back from the
// read, one character time apiece, as a busy line delivers them. That is exact for a frame
// whose "$" came during the gathering (after noise, or behind another frame): the gathering
// is shorter than a frame, so such a frame is still arriving when its bytes are read.
//
// open() and close() run on the reading thread; isOpen() may be asked from any thread.
class PortReader : public QObject
{
    Q_OBJECT

public:
    // Why an open or a close failed: QSerialPort's error and its own text.
    struct Failure
    {
        QSerialPort::SerialPortError error = QSerialPort::NoError;
        QString text;
    };

    explicit PortReader(ReceivedBuffer *received);
#ifdef Q_OS_LINUX
    // With the driver's requests about the port's settings given (tests pass fakes).
    PortReader(ReceivedBuffer *received, SerialSettingsRequests requests);
#endif

    // Opens `device` for reading (4800 8N1, no flow control) and starts over the received
    // input. Whatever was waiting in the system for the device is dropped. On Linux, the
    // driver is asked for low latency (LowLatency), which close() undoes.
    bool open(const QString &device, Failure *failure);
    // Closes the port; false when the system reported a failure while closing.
    bool close(Failure *failure = nullptr);
    bool isOpen() const
    {
        return m_open;
    }

    // How long the rest of a burst gathers after its first byte: 25 character times, the time
    // from a frame's "$" to its last character, so that a frame that began after the first
    // byte has not ended when the gathered bytes are read.
    static constexpr std::chrono::milliseconds Gathering =
        std::chrono::duration_cast<std::chrono::milliseconds>(characterTimes(25));

signals:
    // The device went away while the port was open; the port is now closed.
    void deviceLost();

private:
    void noticeArrival();
    void takeBytes();
    void handleError(QSerialPort::SerialPortError error);
    void closeLostDevice();

    // Puts back what open() changed in the driver's settings, before the port closes.
    void restoreSettings();

    QSerialPort *m_port;
    QTimer *m_gathering;
#ifdef Q_OS_LINUX
    LowLatency m_lowLatency;
#endif
    ReceivedBuffer *m_received;
    std::atomic<bool> m_open{false};
    // When the first byte not read yet arrived; empty while nothing waits.
    std::optional<MonotonicTime> m_firstArrival;
};
