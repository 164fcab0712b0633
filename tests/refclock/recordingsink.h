#pragma once

#include "refclock/samplesink.h"

#include <QList>

// A recording receiver: keeps every sample it receives, and answers with the results it is
// told to, in turn (Sent once the list runs out).
class RecordingSink : public SampleSink
{
public:
    struct Sample
    {
        UtcTime stamp;
        std::chrono::microseconds offset;

        double offsetSeconds() const { return std::chrono::duration<double>(offset).count(); }
    };

    QList<Sample> received; // what reached the receiver
    QList<Result> results;  // what the next sends answer
    int attempts = 0;

    Result send(UtcTime stamp, std::chrono::microseconds offset, QString *reason) override
    {
        ++attempts;
        const Result result = results.isEmpty() ? Sent : results.takeFirst();
        if (result == Sent)
            received.append({stamp, offset});
        else if (reason)
            *reason = QStringLiteral("Connection refused");
        return result;
    }
};
