#pragma once

#include "frametime/frametime.h"
#include "refclock/chronystatus.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUdpSocket>

#include <chrono>
#include <functional>
#include <optional>

class QHostInfo;

// Measuring the computer's clock against an NTP server with a few SNTP queries (RFC 4330), for
// calibrating the device where nothing else keeps the clock: on Windows, where the installer
// turns the Time service's own NTP client off, and on Linux with --sntp-server.
namespace Sntp {

constexpr quint16 DefaultPort = 123;
constexpr int PacketSize = 48;
// Queries in one measurement; the one with the shortest round trip is kept, since its
// offset can be off by half its round trip at the most.
constexpr int Queries = 3;
constexpr std::chrono::seconds AnswerTimeout{1};

struct Answer
{
    // How far the server's clock is ahead of the computer's.
    std::chrono::microseconds offset{0};
    std::chrono::microseconds roundTrip{0};
};

// A client's query sent at `sent` (its transmit time, which the server gives back).
QByteArray request(UtcTime sent);
// The server's answer to `request`, sent at `sent` and received at `received`; nothing (with
// `why`) when it is no answer to it, a kiss of death, or from a server that is not
// synchronised.
std::optional<Answer> readReply(const QByteArray &reply, const QByteArray &request, UtcTime sent,
                                UtcTime received, QString *why);

// The first server of a Windows Time service's NtpServer list ("time.windows.com,0x9 other,0x1"),
// without its flags; time.windows.com, the service's default, for an empty list.
QString firstServer(const QString &list);

} // namespace Sntp

// Measures the computer's clock against `server` ("host", "host:port" or "[v6]:port") now and
// every `interval` for as long as `wanted` says so, without blocking: its name resolved, then
// Sntp::Queries queries one after the other, each given Sntp::AnswerTimeout, the best answer
// kept. Each measurement goes to the callback as chrony's answer would: Synchronised to the
// server with its offset, or NotSynchronised with why it did not answer.
class SntpWatch : public QObject
{
    Q_OBJECT

public:
    SntpWatch(
        QString server, std::chrono::milliseconds interval,
        std::function<void(const ChronyStatus &)> answered,
        std::function<bool()> wanted = [] { return true; }, QObject *parent = nullptr);
    ~SntpWatch() override;

    void start();
    void stop();
    // Asks now, unless a measurement is under way.
    void askNow();

    QString server() const { return m_server; }

private:
    void resolved(const QHostInfo &info);
    void sendQuery();
    void readAnswers();
    void nextQuery();
    void finish();

    QString m_server;
    std::function<void(const ChronyStatus &)> m_answered;
    std::function<bool()> m_wanted;
    QTimer m_interval;
    QTimer m_timeout; // the query under way
    QUdpSocket m_socket;
    int m_lookup = -1; // the name lookup under way
    bool m_busy = false;
    QHostAddress m_address;
    quint16 m_port = Sntp::DefaultPort;
    int m_sent = 0;
    QByteArray m_request;
    UtcTime m_sentAt;
    std::optional<Sntp::Answer> m_best;
    QString m_why;
};
