#pragma once

#include "framereceiver.h"
#include "serialport.h"
#include "usermessages.h"

#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class ClockSetting;
class QTimer;
class ReceiveWindow;

namespace Ui {
class Form1;
}

// What the clock display shows, as "Poner en hora el PC" hands it to the clock setting.
struct ShownClock
{
    QString date;   // Label3
    QString time;   // Label1
    QString regime; // Label7
    std::optional<MonotonicTime> frameArrival;
};

// The program's one window: the port list, the clock display fed by the receive window, and
// the three buttons. The controls and their places come from form1.ui; this class connects
// them to the serial port, the frame reception and the clock setting, and does no more than
// forward to those.
//
// The serial port, the messages and the clock setting are the caller's and must outlive the
// window. The poll timer Timer1 does not tick until Form_Load (or a pick in the port list)
// has run the port selection.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    Form1(SerialPort *port, UserMessages *messages, ClockSetting *clock, QWidget *parent = nullptr);
    ~Form1() override;

    // Start-up, before the window is first shown: selects the port the list shows.
    void Form_Load();

    // The port list: an entry was picked (not typed).
    void Combo1_Click();
    // "Poner en hora el PC".
    void Command1_Click();
    // "Cerrar".
    void Command2_Click();
    // "Acerca de".
    void Command3_Click();
    // A tick of the poll timer.
    void Timer1_Timer();

    ShownClock shownClock() const;

signals:
    // "Cerrar" or the closing of the window has closed the port: the program is to end now.
    void programEndRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The window is closing by any means other than "Cerrar".
    void Form_Unload();
    void closePortAndEnd();
    void showDisplayTexts();

    std::unique_ptr<Ui::Form1> m_ui;
    SerialPort *m_port;
    UserMessages *m_messages;
    ClockSetting *m_clock;
    QTimer *m_timer1;
    ReceiveWindow *m_receiveWindow;
    std::optional<FrameReceiver> m_receiver; // built from the form's initial texts
};
