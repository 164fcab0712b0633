#pragma once

#include "clock/clockbackend.h"
#include "core/frame.h"
#include "core/framereceiver.h"
#include "core/serialport.h"
#include "ui/usermessages.h"

#include <QWidget>

#include <memory>
#include <optional>

class ClockSetting;
class OffsetLine;
class QTimer;
class ReceiveWindow;

namespace Ui {
class Form1;
}

// The program's one window. Its controls keep the names they are known by everywhere (the
// objectNames in form1.ui), and its handlers the names of the control and the event:
//
//   Control      Kind               Shows or does
//   Form1        window             " Q u o r v e l"; Form_Load runs before it is first shown,
//                                   Form_Unload when it closes
//   Text1        text box           the receive window: what the device sent since the latest
//                                   frame (editable; an edit is part of the receive text)
//   Frame1       group box          holds the clock display, Label1 to Label8; no caption
//   Label1       label in Frame1    local time of the latest frame ("hh:mm:ss" before)
//   Label2       label in Frame1    caption "Hora Local"
//   Label3       label in Frame1    date of the latest frame ("mm/dd/aaaa" before)
//   Label4       label in Frame1    caption "Fecha"
//   Label5       label in Frame1    weekday of the latest frame ("Semana" before)
//   Label6       label in Frame1    caption "Día de la Semana"
//   Label7       label in Frame1    summer or winter time ("Inviern/Veran" before)
//   Label8       label in Frame1    caption "Horario de"
//   Combo1       combo box          the port list; picking an entry runs Combo1_Click
//   Command1     button             "Poner en hora el PC": Command1_Click sets the clock
//   Command2     button             "Cerrar": Command2_Click closes the port and ends
//   Command3     button             "Acerca de": Command3_Click shows two message boxes
//   OLE1         label              the picture
//   Label9       label              the maker's web address
//   Label10      label              the version line
//   Label11      label              one pixel high, its caption never seen
//   LabelOffset  label              how far the computer's clock is from the device's
//   Timer1       timer (not in the  the poll: each tick runs Timer1_Timer, from the first port
//                form, made here)   selection on, every 100 ms
//
// The controls and their places come from form1.ui; this class connects them to the serial
// port, the frame reception and the clock setting, and does no more than forward to those and
// make the captions of what they hand back, and show the messages that tell how a setting of
// the clock ended.
//
// The serial port, the messages and the clock setting are the caller's and must outlive the
// window; the clock setting may be null (the button then does nothing). Timer1 does not tick
// until Form_Load (or a pick in the port list) has selected a port.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    Form1(SerialPort *port, UserMessages *messages, ClockSetting *clock, QWidget *parent = nullptr);
    ~Form1() override;

    // Start-up, before the window is first shown: selects the port the list shows, which
    // opens it and starts polling.
    void Form_Load();

    // One poll of the port: what each tick of Timer1 runs; callable directly.
    void Timer1_Timer();

    // The latest frame the clock display shows; empty before the first.
    std::optional<Frame> latestFrame() const { return m_receiver->LastFrame(); }

signals:
    // "Cerrar" or the closing of the window has closed the port: the program is to end now.
    void programEndRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void Combo1_Click();   // an entry of the port list was picked (not typed)
    void Command1_Click(); // "Poner en hora el PC"
    void Command2_Click(); // "Cerrar"
    void Command3_Click(); // "Acerca de"

private:
    // Closes the port if it is open and ends the program: what the window's closing and
    // "Cerrar" both do.
    void Form_Unload();
    // What "Poner en hora el PC" did.
    void clockSettingEnded(ClockBackend::Outcome outcome, const QString &systemText);
    void showFrame(const Frame &frame);

    std::unique_ptr<Ui::Form1> m_ui;
    SerialPort *m_port;
    UserMessages *m_messages;
    ClockSetting *m_clock;
    QTimer *m_timer1;
    ReceiveWindow *m_receiveWindow;
    OffsetLine *m_offsetLine;
    int m_streamsBegun = 0; // the port's streams, as the offset line last started over
    std::optional<FrameReceiver> m_receiver; // built from the form's initial receive text
};
