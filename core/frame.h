#pragma once

#include "core/monotonicclock.h"
#include "core/serialport.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// One time frame from the device, "$time,date,weekday,summer" CR LF, as the reception core
// hands it to the window, the clock setting and the reference clock. The texts are kept as
// received; what they mean (and the captions shown for them) is for those who use them.
struct Frame
{
    QString time;          // field 0 as received, "hh:mm:ss" from a well-behaved device
    QString date;          // field 1 as received, "mm/dd/yyyy"
    int weekday = 0;       // field 2: 1 Monday to 7 Sunday; any other number names no day
    bool summer = false;   // field 3 is the number 1: summer time; any other number: winter
    MonotonicTime arrival; // when the frame's "$" arrived

    // The frame whose frame text (the characters between "$" and CR LF) is `frameText`, or
    // nothing when it has fewer than four fields or its weekday or summer field is not a
    // number. Fields after the fourth are ignored.
    static std::optional<Frame> parse(const QString &frameText, MonotonicTime arrival);

    bool operator==(const Frame &other) const;
    bool operator!=(const Frame &other) const { return !(*this == other); }
};

// A frame field read as a whole number: decimal digits, leading zeros and blanks around
// them allowed. Numbers too large for an int come out as INT_MAX. Anything else (empty,
// signs, decimal points, letters) is no number.
std::optional<int> fieldNumber(QStringView field);

// Takes frames at their line end, for quorvel-refclock: each "$" starts a frame text, and the
// CR LF after it ends it, whatever arrived before or comes after (noise, a stray "$", other
// lines of the device). A "$" dates its frame, as the window dates it: when that byte
// arrived. The window keeps its own rule (FrameReceiver: a frame is taken once the line has
// fallen quiet); the service has no receive window to keep, and so loses no frame on a line
// that is never quiet.
class FrameDecoder
{
public:
    // A frame text longer than this is no frame: its "$" is forgotten, so that noise without a
    // line end cannot grow the text without bound.
    static constexpr qsizetype MaxFrameText = 256;

    // One frame text ended by CR LF, and the frame its fields make, if they make one.
    struct Line
    {
        QString text; // the characters between "$" and CR LF
        std::optional<Frame> frame;
    };

    // Takes the chunks one read brought, in order; gives every frame text that a CR LF
    // ended in them, in order.
    QList<Line> decode(const QList<ReceivedChunk> &chunks);

    // Forgets a frame text under way: the device was closed, and what comes next is another
    // stream.
    void reset();

private:
    QString m_text;         // since the latest "$"
    bool m_inFrame = false; // a "$" came, and no line end since
    bool m_lastWasCr = false;
    MonotonicTime m_markerArrival;
};
