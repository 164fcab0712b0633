#include "serial/portdevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMutex>
#include <QSerialPortInfo>
#include <QThread>
#include <QWaitCondition>

#include <algorithm>

#ifndef Q_OS_WIN
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

#ifndef Q_OS_WIN

// The folders where serial ports' lock files are kept, as QSerialPort looks for them.
const char *const LockFolders[] = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                   "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                   "/var/lock/lockdev", "/run/lock"};

// The name of group `id`, or an empty text when the system does not know it.
QString groupName(gid_t id)
{
    group entry{};
    group *found = nullptr;
    char buffer[4096];
    if (getgrgid_r(id, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
        return {};
    return QString::fromLocal8Bit(entry.gr_name);
}

// Whether process `id` is running.
bool isRunning(qint64 id)
{
    return id > 0 && (::kill(pid_t(id), 0) == 0 || errno == EPERM);
}

// Fills in who holds `device` from a lock file of a running process ("LCK..ttyUSB0": its
// process number, then its program's name). False when there is none.
bool findHolder(const QString &device, PortFailure *failure)
{
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(u'/', u'_');
    for (const char *folder : LockFolders) {
        QFile lock(QDir(QString::fromLatin1(folder)).filePath(QStringLiteral("LCK..") + name));
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = lock.read(4096).split('\n');
        const qint64 process = lines.value(0).trimmed().toLongLong();
        if (!isRunning(process))
            continue;
        QString program = QString::fromLocal8Bit(lines.value(1).trimmed());
        if (program.isEmpty()) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(process));
            if (comm.open(QIODevice::ReadOnly))
                program = QString::fromLocal8Bit(comm.readAll().trimmed());
        }
        failure->holder = program;
        failure->holderProcess = process;
        return true;
    }
    return false;
}

#endif

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

    const QStringList devices = PortListing::shared().devices();
    return number <= devices.size() ? devices.at(number - 1) : QString();
#endif
}

struct PortListing::Worker : QObject
{
    QMutex mutex;
    QWaitCondition listed;
    bool done = false;
    QStringList devices;

    void list()
    {
        QStringList found;
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo &port : ports)
            found.append(port.systemLocation());
        found = naturallySorted(found);
        const QMutexLocker lock(&mutex);
        devices = found;
        done = true;
        listed.wakeAll();
    }
};

PortListing &PortListing::shared()
{
    static PortListing *listing = new PortListing; // for the whole run, like its thread
    return *listing;
}

PortListing::PortListing() : m_worker(new Worker)
{
    auto *thread = new QThread;
    thread->setObjectName(QStringLiteral("PortListing"));
    m_worker->moveToThread(thread);
    thread->start();
    QMetaObject::invokeMethod(m_worker, [worker = m_worker] {
        auto *watcher = new QFileSystemWatcher(worker);
        watcher->addPath(QStringLiteral("/dev"));
        QObject::connect(watcher, &QFileSystemWatcher::directoryChanged, worker,
                         [worker] { worker->list(); });
        worker->list();
    });
}

QStringList PortListing::devices()
{
    const QMutexLocker lock(&m_worker->mutex);
    // Only the first listing is waited for, and not for ever.
    if (!m_worker->done)
        m_worker->listed.wait(&m_worker->mutex, 5000);
    return m_worker->devices;
}

PortFailure openFailure(int number, const QString &device, QSerialPort::SerialPortError error,
                        const QString &text)
{
    PortFailure failure{PortFailure::Kind::Other, number, device, {}, {}, 0, text};
#ifdef Q_OS_WIN
    if (error == QSerialPort::DeviceNotFoundError)
        failure.kind = PortFailure::Kind::DeviceMissing;
    else if (error == QSerialPort::PermissionError) // what Windows says of a port in use
        failure.kind = PortFailure::Kind::InUse;
#else
    const QByteArray path = QFile::encodeName(device);
    if (error == QSerialPort::DeviceNotFoundError || !QFileInfo::exists(device)) {
        failure.kind = PortFailure::Kind::DeviceMissing;
    } else if (faccessat(AT_FDCWD, path.constData(), R_OK, AT_EACCESS) != 0 && errno == EACCES) {
        failure.kind = PortFailure::Kind::PermissionDenied;
        struct stat status
        {
        };
        if (::stat(path.constData(), &status) == 0)
            failure.group = groupName(status.st_gid);
    } else if (findHolder(device, &failure) || error == QSerialPort::PermissionError) {
        // Without a lock file, a device another program holds in exclusive mode refuses
        // to open as busy, which QSerialPort reports as a permission error.
        failure.kind = PortFailure::Kind::InUse;
    }
#endif
    return failure;
}
