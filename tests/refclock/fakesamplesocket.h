#pragma once

#include "refclock/samplesocket.h"

#include <QByteArrayList>
#include <QList>

// A fake chrony: keeps every datagram it receives, and answers with the results it is told to,
// in turn (Sent once the list runs out).
class FakeSampleSocket : public SampleSocket
{
public:
    QByteArrayList received; // what reached chrony
    QList<Result> results;   // what the next sends answer
    int attempts = 0;

    Result send(const QByteArray &datagram, QString *reason) override
    {
        ++attempts;
        const Result result = results.isEmpty() ? Sent : results.takeFirst();
        if (result == Sent)
            received.append(datagram);
        else if (reason)
            *reason = QStringLiteral("Connection refused");
        return result;
    }
};
