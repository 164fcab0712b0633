#pragma once

#include "core/frame.h"
#include "core/framereceiver.h"
#include "core/serialport.h"
#include "ui/usermessages.h"

#include <QWidget>

#include <memory>
#include <optional>

class ClockSetting;
struct ClockSettingOutcome;
class OffsetLine;
class QTimer;
class ReceiveWindow;

namespace Ui {
class Form1;
}

// The program's one window: the port list, the clock display fed by the receive window, and
// the three buttons. The controls and their places come from form1.ui; this class connects
// them to the serial port, the frame reception and the clock setting, and does no more than
// forward to those, make the captions of what they hand back, and show the messages that tell
// how a setting of the clock ended.
//
// The serial port, the messages and the clock setting are the caller's and must outlive the
// window; the clock setting may be null (the button then does nothing). The poll timer Timer1
// does not tick until start() (or a pick in the port list) has selected a port.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    Form1(SerialPort *port, UserMessages *messages, ClockSetting *clock, QWidget *parent = nullptr);
    ~Form1() override;

    // Start-up, before the window is first shown: selects the port the list shows, which
    // opens it and starts polling.
    void start();

    // Runs one poll of the port now, as a tick of Timer1 does.
    void poll();

    // The latest frame the clock display shows; empty before the first.
    std::optional<Frame> latestFrame() const { return m_receiver->LastFrame(); }

signals:
    // "Cerrar" or the closing of the window has closed the port: the program is to end now.
    void programEndRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void Form_Load();
    void Combo1_Click();   // an entry of the port list was picked (not typed)
    void Command1_Click(); // "Poner en hora el PC"
    void Command2_Click(); // "Cerrar"
    void Command3_Click(); // "Acerca de"
    void Timer1_Timer();

private:
    void Form_Unload(); // the window is closing by any means other than "Cerrar"
    void closePortAndEnd();
    void clockSettingEnded(const ClockSettingOutcome &outcome); // what "Poner en hora el PC" did
    void showFrame(const Frame &frame);

    std::unique_ptr<Ui::Form1> m_ui;
    SerialPort *m_port;
    UserMessages *m_messages;
    ClockSetting *m_clock;
    QTimer *m_timer1;
    ReceiveWindow *m_receiveWindow;
    OffsetLine *m_offsetLine;
    std::optional<FrameReceiver> m_receiver; // built from the form's initial receive text
};
