#pragma once

#include "core/serialport.h"

#include <QList>
#include <QStringList>

// A serial port that plays back a script: each read hands over the next chunk (an empty
// chunk is a quiet tick). It logs every call, so tests can check what was asked in which
// order, and can be told to fail any operation.
class ScriptedSerialPort : public SerialPort
{
public:
    PortFailure lastFailure() const override { return failure; }
    int streamsBegun() const override { return streams; }

    bool open = true;
    qint16 number = 0;
    QStringList chunks;                // what successive reads return, one character per byte
    QList<MonotonicTime> chunkArrival; // when each chunk's first character arrived (optional)
    QStringList calls;                 // "portOpen", "open", "close", "setCommPort 3", "input"
    int failPortOpen = SerialOk;
    int failOpen = SerialOk;
    int failClose = SerialOk;
    int failSetCommPort = SerialOk;
    int failInput = SerialOk;
    PortFailure failure; // what lastFailure() tells after a failure
    int streams = 0;     // streams begun: each successful open (a test may add its own)

    int portOpen(bool *isOpen) override
    {
        calls.append(QStringLiteral("portOpen"));
        *isOpen = open;
        return failPortOpen;
    }

    int setPortOpen(bool wanted) override
    {
        calls.append(wanted ? QStringLiteral("open") : QStringLiteral("close"));
        const int result = wanted ? failOpen : failClose;
        if (result == SerialOk || !wanted)
            open = wanted;
        if (result == SerialOk && wanted)
            ++streams;
        return result;
    }

    int setCommPort(qint16 wanted) override
    {
        calls.append(QStringLiteral("setCommPort %1").arg(wanted));
        if (failSetCommPort == SerialOk)
            number = wanted;
        return failSetCommPort;
    }

    int input(QList<ReceivedChunk> *received) override
    {
        calls.append(QStringLiteral("input"));
        received->clear();
        if (failInput != SerialOk)
            return failInput;
        if (chunks.isEmpty())
            return SerialOk;
        const QByteArray bytes = chunks.takeFirst().toLatin1();
        const MonotonicTime first =
            chunkArrival.isEmpty() ? MonotonicClock::now() : chunkArrival.takeFirst();
        if (!bytes.isEmpty())
            received->append(ReceivedChunk{bytes, first + (bytes.size() - 1) * CharacterTime});
        return SerialOk;
    }
};
