#include "refclock/sntp.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QUrl>
#include <QtEndian>

using std::chrono::microseconds;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Sntp", text);
}

// Seconds from NTP's era (1900) to the Unix epoch.
constexpr qint64 NtpEpochOffset = 2208988800;
constexpr qint64 MicrosecondsPerSecond = 1000000;

qint64 floorSeconds(UtcTime time)
{
    const qint64 us = time.time_since_epoch().count();
    return us >= 0 ? us / MicrosecondsPerSecond
                   : -((-us + MicrosecondsPerSecond - 1) / MicrosecondsPerSecond);
}

void putTimestamp(char *at, UtcTime time)
{
    const qint64 seconds = floorSeconds(time);
    const qint64 fraction = time.time_since_epoch().count() - seconds * MicrosecondsPerSecond;
    qToBigEndian(quint32(seconds + NtpEpochOffset), at);
    qToBigEndian(quint32((quint64(fraction) << 32) / MicrosecondsPerSecond), at + 4);
}

// An NTP timestamp read in the era nearest `near`: its 32-bit seconds wrap every 136 years
// (next in 2036), and the server's clock is never that far from the computer's.
UtcTime readTimestamp(const char *at, UtcTime near)
{
    const quint32 high = qFromBigEndian<quint32>(at);
    const quint32 low = qFromBigEndian<quint32>(at + 4);
    const qint64 nearSeconds = floorSeconds(near);
    const qint64 seconds = nearSeconds + qint32(high - quint32(nearSeconds + NtpEpochOffset));
    const qint64 fraction = qint64((quint64(low) * MicrosecondsPerSecond) >> 32);
    return UtcTime(microseconds(seconds * MicrosecondsPerSecond + fraction));
}

UtcTime systemNow()
{
    return std::chrono::time_point_cast<microseconds>(std::chrono::system_clock::now());
}

} // namespace

QByteArray Sntp::request(UtcTime sent)
{
    QByteArray packet(PacketSize, '\0');
    packet[0] = char((4 << 3) | 3); // no leap warning, version 4, client
    putTimestamp(packet.data() + 40, sent);
    return packet;
}

std::optional<Sntp::Answer> Sntp::readReply(const QByteArray &reply, const QByteArray &request,
                                            UtcTime sent, UtcTime received, QString *why)
{
    if (reply.size() < PacketSize) {
        *why = tr("respuesta incompleta");
        return std::nullopt;
    }
    const auto first = quint8(reply.at(0));
    const int version = (first >> 3) & 7;
    if ((first & 7) != 4 || version < 3) {
        *why = tr("la respuesta no es de un servidor NTP");
        return std::nullopt;
    }
    // The server gives the query's transmit time back: anything else answers another query.
    if (reply.mid(24, 8) != request.mid(40, 8)) {
        *why = tr("la respuesta no es a esta consulta");
        return std::nullopt;
    }
    const auto stratum = quint8(reply.at(1));
    if (stratum == 0) {
        *why = tr("el servidor rehúsa responder (%1)")
                   .arg(QString::fromLatin1(reply.mid(12, 4)).trimmed());
        return std::nullopt;
    }
    if ((first >> 6) == 3 || stratum > 15) {
        *why = tr("el servidor no está sincronizado");
        return std::nullopt;
    }
    if (reply.mid(40, 8) == QByteArray(8, '\0')) {
        *why = tr("la respuesta no trae hora");
        return std::nullopt;
    }
    const UtcTime serverReceived = readTimestamp(reply.constData() + 32, sent);
    const UtcTime serverSent = readTimestamp(reply.constData() + 40, sent);
    Answer answer;
    answer.offset = ((serverReceived - sent) + (serverSent - received)) / 2;
    answer.roundTrip = (received - sent) - (serverSent - serverReceived);
    if (answer.roundTrip < -std::chrono::milliseconds(1)) {
        *why = tr("la respuesta no es coherente");
        return std::nullopt;
    }
    answer.roundTrip = std::max(answer.roundTrip, microseconds(0));
    return answer;
}

QString Sntp::firstServer(const QString &list)
{
    const QString first = list.simplified().section(u' ', 0, 0).section(u',', 0, 0);
    return first.isEmpty() ? QStringLiteral("time.windows.com") : first;
}

SntpWatch::SntpWatch(QString server, std::chrono::milliseconds interval,
                     std::function<void(const ChronyStatus &)> answered,
                     std::function<bool()> wanted, QObject *parent)
    : QObject(parent), m_server(std::move(server)), m_answered(std::move(answered)),
      m_wanted(std::move(wanted))
{
    m_interval.setInterval(interval);
    connect(&m_interval, &QTimer::timeout, this, [this] {
        if (m_wanted())
            askNow();
    });
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(Sntp::AnswerTimeout);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        if (m_why.isEmpty())
            m_why = tr("no responde");
        nextQuery();
    });
    connect(&m_socket, &QUdpSocket::readyRead, this, &SntpWatch::readAnswers);
}

SntpWatch::~SntpWatch()
{
    stop();
}

void SntpWatch::start()
{
    m_interval.start();
    if (m_wanted())
        askNow();
}

void SntpWatch::stop()
{
    m_interval.stop();
    m_timeout.stop();
    if (m_lookup >= 0)
        QHostInfo::abortHostLookup(m_lookup);
    m_lookup = -1;
    m_socket.close();
    m_busy = false;
}

void SntpWatch::askNow()
{
    if (m_busy)
        return;
    m_busy = true;
    m_best.reset();
    m_why.clear();
    m_sent = 0;
    const QUrl url(QStringLiteral("ntp://") + m_server, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.path().isEmpty() || url.hasQuery()
        || !url.userInfo().isEmpty()) {
        m_why = tr("no es un nombre de servidor");
        finish();
        return;
    }
    m_port = quint16(url.port(Sntp::DefaultPort));
    if (m_address.setAddress(url.host())) {
        sendQuery();
        return;
    }
    m_lookup = QHostInfo::lookupHost(url.host(), this, &SntpWatch::resolved);
}

void SntpWatch::resolved(const QHostInfo &info)
{
    m_lookup = -1;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        m_why = tr("nombre desconocido");
        finish();
        return;
    }
    m_address = info.addresses().constFirst();
    sendQuery();
}

void SntpWatch::sendQuery()
{
    if (m_socket.state() != QAbstractSocket::BoundState
        && !m_socket.bind(m_address.protocol() == QAbstractSocket::IPv6Protocol
                              ? QHostAddress(QHostAddress::AnyIPv6)
                              : QHostAddress(QHostAddress::AnyIPv4),
                          0)) {
        m_why = m_socket.errorString();
        finish();
        return;
    }
    ++m_sent;
    m_sentAt = systemNow();
    m_request = Sntp::request(m_sentAt);
    m_timeout.start();
    if (m_socket.writeDatagram(m_request, m_address, m_port) != m_request.size())
        m_why = tr("no se pudo enviar la consulta");
}

void SntpWatch::readAnswers()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram(1024);
        const UtcTime received = systemNow();
        // Only the server's answer to the query under way counts; a stray or late datagram
        // is skipped, and the answer may still come.
        if (!m_timeout.isActive() || datagram.senderPort() != m_port
            || !datagram.senderAddress().isEqual(m_address, QHostAddress::TolerantConversion))
            continue;
        const std::optional<Sntp::Answer> answer =
            Sntp::readReply(datagram.data(), m_request, m_sentAt, received, &m_why);
        if (!answer)
            continue;
        if (!m_best || answer->roundTrip < m_best->roundTrip)
            m_best = answer;
        m_timeout.stop();
        nextQuery(); // which may close the socket: nothing more is read now
        return;
    }
}

void SntpWatch::nextQuery()
{
    if (m_sent < Sntp::Queries)
        sendQuery();
    else
        finish();
}

void SntpWatch::finish()
{
    m_timeout.stop();
    m_socket.close();
    m_busy = false;
    ChronyStatus status;
    status.reference = m_server;
    if (m_best) {
        status.kind = ChronyStatus::Synchronised;
        status.clockOffset = m_best->offset;
        status.roundTrip = m_best->roundTrip;
    } else {
        status.kind = ChronyStatus::NotSynchronised;
        status.reference = tr("%1: %2").arg(m_server, m_why);
    }
    m_answered(status);
}
