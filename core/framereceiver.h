#pragma once

// The data's road through Quorvel:
//
//   GPS clock device --bytes, dated on arrival--> SerialPort (serial/ implements it)
//     --every 100 ms the window's poll runs FrameReceiver::Tick (here)-->
//        receive text (shown in Text1) --quiet after a line end--> the latest Frame:
//        time and date texts as received, weekday number, summer flag, arrival of its "$"
//     --Frame--> the window (ui/) makes its captions: Label1, Label3, Label5, Label7
//     --Frame--> "Poner en hora el PC": ClockSetting (clock/) converts it to universal time,
//        adds its age and hands the instant to the system's clock backend
//
// Nothing below the window turns a frame into words for people, and nothing reads the
// words back.

#include "core/frame.h"
#include "core/serialport.h"

#include <QString>

#include <optional>

// Frame reception: keeps the receive text (what the receive window shows, and the buffer
// frames are taken from) and the latest frame. A frame is "$", four comma-separated fields
// (time, date, weekday 1-7, summer flag) and CR LF. It is taken on the first tick that brings
// no input after its CR LF has arrived, and only whole: from the last "$" to the first CR LF
// after it. A frame text without four fields with numeric weekday and summer flag is cut out
// like any other but gives no frame.
class FrameReceiver
{
public:
    // The receive text never grows beyond this many characters; the newest are kept.
    static constexpr int MaxReceiveLength = 4096;

    explicit FrameReceiver(const QString &receiveText);

    // Runs one poll: asks the port whether it is open and, only then, reads its pending
    // input, appends it and takes a frame if the device has fallen quiet after a line end.
    // Returns whether it found the port open; a port that fails to answer or to read counts
    // as closed for this tick, and the tick then changes nothing.
    bool Tick(SerialPort *port);

    // Shows one frame text (the characters between "$" and CR LF): splits it at every ","
    // and, when its fields make a frame, makes it the latest. `arrival` is when the frame's
    // "$" arrived.
    void ShowFrame(const QString &frameText, MonotonicTime arrival = MonotonicClock::now());

    QString ReceiveText() const { return m_receiveText; }

    // Takes the user's edit of the receive window, so the next tick works on the edited text.
    void SetReceiveText(const QString &text);

    // Whether the latest tick cut a frame text out of the receive text.
    bool TookFrame() const { return m_tookFrame; }

    // The frame the latest tick took, when its fields made one: one value per frame taken.
    std::optional<Frame> TakenFrame() const { return m_tookFrame ? m_takenFrame : std::nullopt; }

    // The latest frame shown, whichever tick took it; empty before the first.
    std::optional<Frame> LastFrame() const { return m_lastFrame; }

private:
    void append(const QList<ReceivedChunk> &chunks);
    void takeFrame();
    void keepWithinBound();

    QString m_receiveText;
    // Length of the receive text at the end of the previous tick that found the port open;
    // together with an empty read it tells that the device has been quiet for one tick.
    qsizetype m_lastLength = 0;
    bool m_tookFrame = false;
    std::optional<Frame> m_takenFrame; // what ShowFrame made of the latest frame text
    std::optional<Frame> m_lastFrame;
    // When the last "$" in the receive text arrived.
    MonotonicTime m_markerArrival = MonotonicClock::now();
};
