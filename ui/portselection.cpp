#include "ui/portselection.h"

#include "core/serialport.h"
#include "ui/windowtexts.h"

#include <QCoreApplication>

void selectPort(const QString &listText, SerialPort *port,
                const PollIntervalSetter &setPollInterval, UserMessages *messages)
{
    // The last failure of any step; the steps after it run all the same.
    int failure = SerialOk;
    const auto record = [&failure](int result) {
        if (result != SerialOk)
            failure = result;
    };

    bool open = false;
    const int asked = port->portOpen(&open);
    record(asked);
    if (asked != SerialOk || open)
        record(port->setPortOpen(false)); // not knowing whether it is open: close it anyway

    record(port->setCommPort(portNumberOf(listText)));
    record(port->setPortOpen(true));
    setPollInterval(PollInterval);

    if (failure == SerialOk)
        return;
    // One message: the failure, then on a line of its own why, when the port knows.
    QString text = QCoreApplication::translate("PortSelection", "Puerto no disponible");
    const QString why = portFailureText(port->lastFailure());
    if (!why.isEmpty())
        text += QLatin1String("\r\n") + why;
    messages->show(text);
}
