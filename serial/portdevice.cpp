#include "serial/portdevice.h"

#include <QSerialPortInfo>

#include <algorithm>

namespace {

constexpr int FirstPort = 1;
constexpr int LastPort = 4;

// Splits "ttyUSB12" into "ttyUSB" and 12.
std::pair<QStringView, qint64> stemAndNumber(const QString &name)
{
    qsizetype digits = name.size();
    while (digits > 0 && name.at(digits - 1).isDigit())
        --digits;
    const QStringView stem = QStringView(name).left(digits);
    bool ok = false;
    const qint64 number = QStringView(name).mid(digits).toLongLong(&ok);
    return {stem, ok ? number : -1};
}

} // namespace

QStringList naturallySorted(QStringList names)
{
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const auto [stemA, numberA] = stemAndNumber(a);
        const auto [stemB, numberB] = stemAndNumber(b);
        if (stemA != stemB)
            return stemA < stemB;
        return numberA < numberB;
    });
    return names;
}

QString portDevice(int number)
{
    if (number < FirstPort || number > LastPort)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    const QString variable = QStringLiteral("QUORVEL_COM%1").arg(number);
    QString configured = qEnvironmentVariable(variable.toLatin1().constData());
    if (!configured.isEmpty())
        return configured;

    QStringList devices;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        devices.append(port.systemLocation());
    devices = naturallySorted(devices);
    return number <= devices.size() ? devices.at(number - 1) : QString();
#endif
}
