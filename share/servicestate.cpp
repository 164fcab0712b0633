#include "share/servicestate.h"

#include <QList>

namespace {

template <typename Enum> Enum enumFrom(const QByteArray &value, Enum last)
{
    bool ok = false;
    const uint number = value.toUInt(&ok);
    return ok && number <= uint(last) ? Enum(number) : Enum(0);
}

} // namespace

bool ServiceState::operator==(const ServiceState &other) const
{
    return encode() == other.encode();
}

QByteArray ServiceState::encode() const
{
    QByteArray out;
    const auto add = [&out](const char *key, const QByteArray &value) {
        out += key;
        out += '=';
        out += value;
        out += '\n';
    };
    const auto text = [](const QString &value) {
        QString line = value;
        return line.replace(u'\n', u' ').toUtf8();
    };
    add("device", text(device));
    add("port", QByteArray::number(int(port)));
    add("portReason", text(portReason));
    add("deviceClock", QByteArray::number(int(deviceClock)));
    add("delay", QByteArray::number(qint64(delay.count())));
    add("delaySource", QByteArray::number(int(delaySource)));
    add("calibratedAt", calibratedAt.isValid() ? calibratedAt.toUTC().toString(Qt::ISODate).toUtf8()
                                               : QByteArray());
    add("calibrating", calibrating ? "1" : "0");
    add("calibrationFrames", QByteArray::number(calibrationFrames));
    add("samplesSent", QByteArray::number(samplesSent));
    add("samplesDropped", QByteArray::number(samplesDropped));
    add("chrony", QByteArray::number(int(chrony)));
    add("chronyReference", text(chronyReference));
    add("deviceSeen", deviceSeen ? "1" : "0");
    add("deviceSelected", deviceSelected ? "1" : "0");
    add("chronyOffset", QByteArray::number(qint64(chronyOffset.count())));
    add("chronyError", QByteArray::number(qint64(chronyError.count())));
    add("provider", QByteArray::number(int(provider)));
    add("sntpServer", text(sntpServer));
    add("sntpReason", text(sntpReason));
    add("sntpAnswered", sntpAnswered ? "1" : "0");
    add("sntpOffset", QByteArray::number(qint64(sntpOffset.count())));
    return out;
}

ServiceState ServiceState::decode(const QByteArray &payload)
{
    ServiceState state;
    for (const QByteArray &line : payload.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = line.left(equals);
        const QByteArray value = line.mid(equals + 1);
        if (key == "device")
            state.device = QString::fromUtf8(value);
        else if (key == "port")
            state.port = enumFrom(value, Port::Lost);
        else if (key == "portReason")
            state.portReason = QString::fromUtf8(value);
        else if (key == "deviceClock")
            state.deviceClock = enumFrom(value, DeviceClock::Implausible);
        else if (key == "delay")
            state.delay = std::chrono::microseconds(value.toLongLong());
        else if (key == "delaySource")
            state.delaySource = enumFrom(value, DelaySource::Administrator);
        else if (key == "calibratedAt")
            state.calibratedAt = QDateTime::fromString(QString::fromUtf8(value), Qt::ISODate);
        else if (key == "calibrating")
            state.calibrating = value == "1";
        else if (key == "calibrationFrames")
            state.calibrationFrames = value.toInt();
        else if (key == "samplesSent")
            state.samplesSent = value.toLongLong();
        else if (key == "samplesDropped")
            state.samplesDropped = value.toLongLong();
        else if (key == "chrony")
            state.chrony = enumFrom(value, Chrony::FollowsDevice);
        else if (key == "chronyReference")
            state.chronyReference = QString::fromUtf8(value);
        else if (key == "deviceSeen")
            state.deviceSeen = value == "1";
        else if (key == "deviceSelected")
            state.deviceSelected = value == "1";
        else if (key == "chronyOffset")
            state.chronyOffset = std::chrono::nanoseconds(value.toLongLong());
        else if (key == "chronyError")
            state.chronyError = std::chrono::nanoseconds(value.toLongLong());
        else if (key == "provider")
            state.provider = enumFrom(value, Provider::Absent);
        else if (key == "sntpServer")
            state.sntpServer = QString::fromUtf8(value);
        else if (key == "sntpReason")
            state.sntpReason = QString::fromUtf8(value);
        else if (key == "sntpAnswered")
            state.sntpAnswered = value == "1";
        else if (key == "sntpOffset")
            state.sntpOffset = std::chrono::microseconds(value.toLongLong());
    }
    return state;
}
