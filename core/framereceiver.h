#pragma once

// The data's road through Quorvel: the serial port (serial/) hands over the bytes the GPS
// clock device sent, as text; every 100 ms the window's poll timer runs FrameReceiver::Tick
// (here), which appends them to the receive text, takes the latest frame once the device
// has fallen quiet after a line end, and turns its fields into the four display texts; the
// window (ui/) shows the receive text in Text1 and the display texts in Label1, Label3,
// Label5 and Label7; "Poner en hora el PC" hands the date and time shown to the clock
// backend (clock/), which sets the computer's clock.

#include "serialport.h"

#include <QString>

#include <optional>

// The four texts of the clock display.
struct DisplayTexts
{
    QString time;    // Label1: field 0 as received
    QString date;    // Label3: field 1 as received
    QString weekday; // Label5: the weekday's name
    QString regime;  // Label7: "Verano" or "Invierno"

    bool operator==(const DisplayTexts &other) const;
    bool operator!=(const DisplayTexts &other) const { return !(*this == other); }
};

// Frame reception: keeps the receive text (what the receive window shows, and the buffer
// frames are taken from) and the display texts. A frame is "$", four comma-separated fields
// (time, date, weekday 1-7, summer flag) and CR LF. It is taken on the first tick that brings
// no input after its CR LF has arrived, and only whole: from the last "$" to the first CR LF
// after it. Frames that do not have four fields with numeric weekday and summer flag leave
// every display text as it was.
class FrameReceiver
{
public:
    // The receive text never grows beyond this many characters; the newest are kept.
    static constexpr int MaxReceiveLength = 4096;

    FrameReceiver(const QString &receiveText, const DisplayTexts &display);

    // Runs one poll: asks the port whether it is open and, only then, reads its pending
    // input, appends it and takes a frame if the device has fallen quiet after a line end.
    // Returns whether it found the port open; a port that fails to answer or to read counts
    // as closed for this tick, and the tick then changes nothing.
    bool Tick(SerialPort *port);

    // Shows one frame text (the characters between "$" and CR LF): splits it at every ","
    // and updates the display texts. `arrival` is when the frame's "$" arrived.
    void ShowFrame(const QString &frameText, MonotonicTime arrival = MonotonicClock::now());

    QString ReceiveText() const { return m_receiveText; }

    // Takes the user's edit of the receive window, so the next tick works on the edited text.
    void SetReceiveText(const QString &text);

    DisplayTexts Display() const { return m_display; }

    // Whether the latest tick took a frame (and so the labels are to be written).
    bool TookFrame() const { return m_tookFrame; }

    // When the "$" of the frame that the display texts show arrived; empty before the first
    // frame has been shown.
    std::optional<MonotonicTime> FrameArrival() const { return m_frameArrival; }

private:
    void append(const QString &input, const QList<MonotonicTime> &arrivals);
    void takeFrame();
    void keepWithinBound();

    QString m_receiveText;
    // Length of the receive text at the end of the previous tick that found the port open;
    // together with an empty read it tells that the device has been quiet for one tick.
    qsizetype m_lastLength = 0;
    DisplayTexts m_display;
    bool m_tookFrame = false;
    // When the last "$" in the receive text arrived.
    MonotonicTime m_markerArrival = MonotonicClock::now();
    std::optional<MonotonicTime> m_frameArrival;
};
