// The window's side of the chain test: while the service keeps time, the port that the window
// opens on COM1 reads the device through the service's pipe. Prints "ok: ..." or "FAIL: ...".
//   sharedwindow
#include "serial/deviceserialport.h"
#include "share/serviceclientport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    DeviceSerialPort device;
    ServiceOrDevicePort port(&device);
    port.setCommPort(1);
    const int opened = port.setPortOpen(true);
    if (opened != SerialOk || !port.throughService()) {
        std::printf("FAIL: the window's COM1 does not read through the service (%d, %s)\n", opened,
                    qPrintable(port.lastFailure().systemText));
        return 1;
    }
    // A whole frame within a few of the device's seconds.
    QByteArray text;
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired() && !text.contains("\r\n$")) {
        QList<ReceivedChunk> chunks;
        if (port.input(&chunks) != SerialOk) {
            std::printf("FAIL: the service's stream ended\n");
            return 1;
        }
        for (const ReceivedChunk &chunk : std::as_const(chunks))
            text += chunk.bytes;
        QThread::msleep(100);
    }
    const qsizetype end = text.indexOf("\r\n$");
    const qsizetype begin = text.lastIndexOf('$', end);
    if (begin < 0) {
        std::printf("FAIL: no whole frame through the service in 5 s: \"%s\"\n", text.constData());
        return 1;
    }
    std::printf("ok: the window reads the device through the service: %s\n",
                text.mid(begin, end - begin).constData());
    port.setPortOpen(false);
    return 0;
}
