#pragma once

#include "core/serialport.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The stream quorvel-refclock sends each local client that reads its device through it. Only
// the service writes; a client sends nothing. Every number is little-endian.
//
//   hello:   "QVSH" (4 bytes), version (u16, 1), 0 (u16)
//   message: type (u8), payload length (u32, at most MaxPayload), payload
//     Device: the path of the device the service holds (UTF-8), once, right after the hello
//     Chunk:  when its last byte arrived (i64, nanoseconds on CLOCK_MONOTONIC, the clock every
//             process on the machine shares), then the bytes (1 to MaxChunkBytes), as one read
//             of the device took them
//     End:    why the stream ends (u8, an EndReason); the service closes the connection after it
namespace ShareProtocol {

inline constexpr char Magic[4] = {'Q', 'V', 'S', 'H'};
inline constexpr quint16 Version = 1;
inline constexpr int HelloSize = 8;
inline constexpr int HeaderSize = 5; // type and payload length
inline constexpr int MaxChunkBytes = 4096;
inline constexpr int ArrivalSize = 8;
inline constexpr int MaxPayload = ArrivalSize + MaxChunkBytes;

enum class Type : quint8 { Device = 1, Chunk = 2, End = 3 };
enum class EndReason : quint8 { DeviceGone = 1, ServiceStopping = 2 };

QByteArray hello();
QByteArray device(const QString &path);
// One message per MaxChunkBytes of `chunk`; each piece dated by its own last byte.
QByteArray chunk(const ReceivedChunk &chunk);
QByteArray end(EndReason reason);

// One message read from the stream.
struct Message
{
    Type type = Type::End;
    QString device;                           // Device
    ReceivedChunk chunk;                      // Chunk
    EndReason reason = EndReason::DeviceGone; // End
};

// Reads the stream as it comes, in pieces of any size. Anything that breaks the format (a
// wrong hello, an unknown type, a length past the bounds) makes it broken for good: the
// stream cannot be trusted from there on. It never holds more than one message's bytes.
class Decoder
{
public:
    // Adds bytes received.
    void append(const QByteArray &bytes);
    // The next whole message, if one has arrived; nothing while broken.
    std::optional<Message> next();
    bool broken() const { return m_broken; }

private:
    QByteArray m_pending;
    bool m_helloRead = false;
    bool m_broken = false;
};

} // namespace ShareProtocol
