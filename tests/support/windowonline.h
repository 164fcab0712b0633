#pragma once

#include "serial/deviceserialport.h"
#ifdef QUORVEL_SHARING
#include "share/serviceclientport.h"
#endif
#include "tests/support/environmentsetting.h"
#include "tests/support/recordingmessages.h"
#include "tests/support/steppedserialport.h"
#include "ui/form1.h"
#include "ui/receivewindow.h"
#ifdef Q_OS_UNIX
#include "tests/support/pseudoterminal.h"
#endif

#include <QAbstractItemView>
#include <QByteArray>
#include <QComboBox>
#include <QLabel>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

// The labels of the clock display, in the order the window writes them.
inline const QStringList DisplayLabels{QStringLiteral("Label1"), QStringLiteral("Label3"),
                                       QStringLiteral("Label5"), QStringLiteral("Label7")};

// Picks entry `index` of a port list as a user does: opens the list and clicks the entry.
// `justBefore` runs when the list is open, right before the click.
void pickEntry(QComboBox *combo, int index, const std::function<void()> &justBefore = {});

// The window on the real serial port, reading a device behind "Com1": a pseudo-terminal of
// its own that the test plays the device on (plugIn(), send(), pull(); POSIX only), or one
// that another program plays (nameDevice(), for quorvel-sim). QUORVEL_COM1 is set for it and put
// back as it was when the rig goes, whatever the test did in between. Messages are recorded; every
// call to the port passes through `port`, which can run something between two steps. Where the
// program reads through quorvel-refclock (Linux), the rig does too: `shared` reads the service's
// stream while a service holds the device, and opens `serial`, the device, otherwise.
class WindowOnLine
{
public:
    explicit WindowOnLine(ClockSetting *clock = nullptr);
    WindowOnLine(const WindowOnLine &) = delete;
    WindowOnLine &operator=(const WindowOnLine &) = delete;

    // "Com1" names `path` (on Windows, where Com1 is COM1, this changes nothing).
    void nameDevice(const QString &path) { m_com1.set(path.toLocal8Bit()); }

#ifdef Q_OS_UNIX
    // A new device appears behind "Com1".
    bool plugIn();

    // The device goes away: the other side of the line closes, and so does our own handle.
    void pull();

    bool send(const QByteArray &bytes);
#endif

    bool portIsOpen();

    template <typename T = QWidget> T *control(const QString &name) const
    {
        return form.findChild<T *>(name);
    }
    QTimer *timer1() const
    {
        return control<QTimer>(QStringLiteral("Timer1"));
    }

    // Label1, Label3, Label5 and Label7.
    QStringList labels() const;

    QString receiveText() const;

    // Picks entry `index` of the port list; see pickEntry().
    void pick(int index, const std::function<void()> &justBefore = {});

private:
    EnvironmentSetting m_com1{"QUORVEL_COM1"};

public:
#ifdef Q_OS_UNIX
    std::unique_ptr<PseudoTerminal> device;
#endif
    DeviceSerialPort serial;
#ifdef QUORVEL_SHARING
    ServiceOrDevicePort shared{&serial};
#else
    SerialPort &shared = serial;
#endif
    SteppedSerialPort port{&shared};
    RecordingMessages messages;
    Form1 form;
};
