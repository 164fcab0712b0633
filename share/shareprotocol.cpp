#include "share/shareprotocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace ShareProtocol {

namespace {

QByteArray message(Type type, const QByteArray &payload)
{
    QByteArray out(HeaderSize, Qt::Uninitialized);
    out[0] = char(type);
    qToLittleEndian<quint32>(quint32(payload.size()), out.data() + 1);
    return out + payload;
}

} // namespace

QByteArray hello()
{
    QByteArray out(HelloSize, '\0');
    std::memcpy(out.data(), Magic, sizeof Magic);
    qToLittleEndian<quint16>(Version, out.data() + 4);
    return out;
}

QByteArray device(const QString &path)
{
    return message(Type::Device, path.toUtf8().left(MaxPayload));
}

QByteArray chunk(const ReceivedChunk &chunk)
{
    QByteArray out;
    for (qsizetype start = 0; start < chunk.bytes.size(); start += MaxChunkBytes) {
        const QByteArray piece = chunk.bytes.mid(start, MaxChunkBytes);
        const MonotonicTime last = chunk.arrivalOf(start + piece.size() - 1);
        QByteArray payload(ArrivalSize, Qt::Uninitialized);
        qToLittleEndian<qint64>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(last.time_since_epoch()).count(),
            payload.data());
        out += message(Type::Chunk, payload + piece);
    }
    return out;
}

QByteArray end(EndReason reason)
{
    return message(Type::End, QByteArray(1, char(reason)));
}

QByteArray state(const ServiceState &state)
{
    return message(Type::State, state.encode().left(MaxPayload));
}

void Decoder::append(const QByteArray &bytes)
{
    if (!m_broken)
        m_pending += bytes;
}

std::optional<Message> Decoder::next()
{
    if (m_broken)
        return std::nullopt;
    if (!m_helloRead) {
        if (m_pending.size() < HelloSize)
            return std::nullopt;
        if (std::memcmp(m_pending.constData(), Magic, sizeof Magic) != 0
            || qFromLittleEndian<quint16>(m_pending.constData() + 4) != Version) {
            m_broken = true;
            m_pending.clear();
            return std::nullopt;
        }
        m_pending.remove(0, HelloSize);
        m_helloRead = true;
    }
    if (m_pending.size() < HeaderSize)
        return std::nullopt;
    const auto type = Type(quint8(m_pending.at(0)));
    const quint32 length = qFromLittleEndian<quint32>(m_pending.constData() + 1);
    const bool known =
        type == Type::Device || type == Type::Chunk || type == Type::End || type == Type::State;
    const bool fits = length <= quint32(MaxPayload)
                      && (type != Type::Chunk || length > quint32(ArrivalSize))
                      && (type != Type::End || length == 1);
    if (!known || !fits) {
        m_broken = true;
        m_pending.clear();
        return std::nullopt;
    }
    if (m_pending.size() < HeaderSize + qsizetype(length))
        return std::nullopt;
    const QByteArray payload = m_pending.mid(HeaderSize, length);
    m_pending.remove(0, HeaderSize + qsizetype(length));

    Message out;
    out.type = type;
    switch (type) {
    case Type::Device:
        out.device = QString::fromUtf8(payload);
        break;
    case Type::Chunk:
        out.chunk.lastArrival = MonotonicTime(std::chrono::duration_cast<MonotonicClock::duration>(
            std::chrono::nanoseconds(qFromLittleEndian<qint64>(payload.constData()))));
        out.chunk.bytes = payload.mid(ArrivalSize);
        break;
    case Type::End:
        out.reason = EndReason(quint8(payload.at(0)));
        break;
    case Type::State:
        out.state = ServiceState::decode(payload);
        break;
    }
    return out;
}

bool sameClock(std::int64_t (*program)(), std::int64_t (*system)())
{
    constexpr std::int64_t Tolerance = 1'000'000; // 1 ms
    const std::int64_t before = system();
    const std::int64_t read = program();
    const std::int64_t after = system();
    return read >= before - Tolerance && read <= after + Tolerance;
}

bool monotonicClockIsShared()
{
#ifdef Q_OS_WIN
    return true;
#else
    return sameClock(
        [] {
            return std::int64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    MonotonicClock::now().time_since_epoch())
                                    .count());
        },
        [] {
            timespec now{};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
        });
#endif
}

} // namespace ShareProtocol

QString shareFolder()
{
    const QString folder = qEnvironmentVariable(ShareFolderVariable);
    return folder.isEmpty() ? QString::fromLatin1(DefaultShareFolder) : folder;
}

QString stateSocketPath(const QString &socketPath)
{
    if (socketPath.isEmpty())
        return {};
    QString path = socketPath;
    if (path.endsWith(QLatin1String(".socket")))
        path.chop(7);
    return path + QLatin1String(".state.socket");
}

QStringList stateSockets()
{
    QStringList paths;
#ifdef Q_OS_WIN
    // The service reads one of the program's ports, COM1 to COM4; its pipes are named for it.
    for (int number = 1; number <= 4; ++number)
        paths << stateSocketPath(shareSocketPath(QStringLiteral("COM%1").arg(number)));
#else
    const QDir folder(shareFolder());
    for (const QString &name :
         folder.entryList({QStringLiteral("*.state.socket")}, QDir::System, QDir::Name))
        paths << folder.filePath(name);
#endif
    return paths;
}

#ifdef Q_OS_WIN
QString shareSocketPath(const QString &device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("\\\\.\\")))
        name.remove(0, 4);
    if (name.isEmpty() || name.contains(u'\\') || name.contains(u'/'))
        return {};
    return QStringLiteral("quorvel-refclock-") + name.toUpper();
}
#else
QString shareSocketPath(const QString &device)
{
    // A Unix socket's path holds at most 107 bytes.
    constexpr qsizetype MaxPath = 107;
    QString name = QFileInfo(device).canonicalFilePath();
    if (name.isEmpty())
        name = QDir::cleanPath(device);
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    while (name.startsWith(u'/'))
        name.remove(0, 1);
    name.replace(u'/', u'_');
    if (name.isEmpty())
        return {};
    const QString path = QDir(shareFolder()).filePath(name + QLatin1String(".socket"));
    return QFile::encodeName(path).size() > MaxPath ? QString() : path;
}
#endif
