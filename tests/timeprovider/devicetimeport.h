#pragma once

#include "core/line.h"
#include "frametime/clockpair.h"
#include "tools/sim/frametext.h"
#include "tools/sim/scriptedserialport.h"

#include <QDateTime>
#include <QTimeZone>

#include <chrono>

// A device whose clock is the computer's plus `offset`, at the port interface: each read hands
// over the frame of every whole second of the device's clock that has begun since the last
// read, its "$" dated as a line delivers it, one character time after that second began (in
// UTC, as the device's zone). For
// the chain test under wine, whose serial ports do not reach QSerialPort.
class DeviceTimePort : public ScriptedSerialPort
{
public:
    explicit DeviceTimePort(std::chrono::microseconds offset) : m_offset(offset) {}

    int input(QList<ReceivedChunk> *received) override
    {
        using namespace std::chrono;
        const ClockPair now = ClockPair::now();
        const UtcTime device = now.real + m_offset;
        const seconds second = floor<seconds>(device.time_since_epoch());
        if (m_last.count() != 0 && second > m_last) {
            // The computer's time when this second began on the device's clock.
            const UtcTime began = UtcTime(second) - m_offset;
            const QByteArray frame =
                frameText(QDateTime::fromSecsSinceEpoch(second.count(), QTimeZone::utc()));
            chunks.append(QString::fromLatin1(frame));
            chunkArrival.append(now.monotonic - (now.real - began) + CharacterTime);
        }
        m_last = second;
        return ScriptedSerialPort::input(received);
    }

private:
    std::chrono::microseconds m_offset;
    std::chrono::seconds m_last{0};
};
