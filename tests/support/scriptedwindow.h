#pragma once

#include "tests/support/recordingmessages.h"
#include "tests/support/windowonline.h"
#include "tools/sim/scriptedserialport.h"
#include "ui/form1.h"

#include <QLabel>
#include <QStringList>
#include <QTest>
#include <QTimer>

class ClockSetting;

// The window in the test's own process on the simulator's scripted port (closed until a test
// or the load step opens it), its messages recorded, and the clock setting a test gives it:
// the one fixture of the in-process window tests. WindowOnLine is the same window on a real
// line.
struct ScriptedWindow
{
    explicit ScriptedWindow(ClockSetting *clock = nullptr) : form(&port, &messages, clock)
    {
        port.open = false;
    }

    ScriptedSerialPort port;
    RecordingMessages messages;
    Form1 form;

    template <typename T = QWidget> T *control(const QString &name) const
    {
        return form.findChild<T *>(name);
    }
    QTimer *timer1() const { return control<QTimer>(QStringLiteral("Timer1")); }
    QString text(const QString &label) const { return control<QLabel>(label)->text(); }
    // Label1, Label3, Label5 and Label7.
    QStringList displayed() const
    {
        QStringList texts;
        for (const QString &label : DisplayLabels)
            texts.append(text(label));
        return texts;
    }
    bool show()
    {
        form.show();
        return QTest::qWaitForWindowExposed(&form);
    }
    // Shown and with the keyboard focus.
    bool showActive()
    {
        form.show();
        return QTest::qWaitForWindowActive(&form);
    }
    // The port brings `chunk` on one tick, dated `arrival` when given, and nothing on the next,
    // which takes the frame it ends: two polls.
    void receive(const QString &chunk, const QList<MonotonicTime> &arrival = {})
    {
        port.chunks = QStringList{chunk, QString()};
        if (!arrival.isEmpty())
            port.chunkArrival = arrival;
        form.Timer1_Timer();
        form.Timer1_Timer();
    }
    // Runs the load step with polling stopped again, so that only the test's own ticks run.
    void loadWithoutPolling()
    {
        form.Form_Load();
        timer1()->stop();
        port.calls.clear();
    }
};
