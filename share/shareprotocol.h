#pragma once

#include "core/serialport.h"
#include "share/servicestate.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
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
//     State:  how the service keeps time (ServiceState's "key=value" lines), sent only on the
//             device's state socket (stateSocketPath): at the greeting and on every change
//
// The device's socket never carries State, so that a window that knows only Device, Chunk and
// End reads it as before; a window that knows State reads the state socket beside it, which a
// service that predates it does not have.
namespace ShareProtocol {

inline constexpr char Magic[4] = {'Q', 'V', 'S', 'H'};
inline constexpr quint16 Version = 1;
inline constexpr int HelloSize = 8;
inline constexpr int HeaderSize = 5; // type and payload length
inline constexpr int MaxChunkBytes = 4096;
inline constexpr int ArrivalSize = 8;
inline constexpr int MaxPayload = ArrivalSize + MaxChunkBytes;

enum class Type : quint8 { Device = 1, Chunk = 2, End = 3, State = 4 };
enum class EndReason : quint8 { DeviceGone = 1, ServiceStopping = 2 };

QByteArray hello();
QByteArray device(const QString &path);
// One message per MaxChunkBytes of `chunk`; each piece dated by its own last byte.
QByteArray chunk(const ReceivedChunk &chunk);
QByteArray end(EndReason reason);
QByteArray state(const ServiceState &state);

// One message read from the stream.
struct Message
{
    Type type = Type::End;
    QString device;                           // Device
    ReceivedChunk chunk;                      // Chunk
    EndReason reason = EndReason::DeviceGone; // End
    ServiceState state;                       // State
};

// Reads the stream as it comes, in pieces of any size. Anything that breaks the format (a
// wrong hello, an unknown type, a length past the bounds) makes it broken for good: the
// stream cannot be trusted from there on. It keeps every byte appended until next() has
// taken the messages they make; a client reads the messages out after each append.
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

// Whether this program's monotonic clock (MonotonicClock, which dates every read) is
// CLOCK_MONOTONIC, the clock the stream's arrival times are on. Always true on Windows,
// where both ends are this program's and read the same clock.
bool monotonicClockIsShared();
// The check itself: whether `program` and `system` read the same clock, within 1 ms, each
// read in nanoseconds.
bool sameClock(std::int64_t (*program)(), std::int64_t (*system)());

} // namespace ShareProtocol

// Where quorvel-refclock offers a device to local clients: one socket per device. On Linux in
// the folder QUORVEL_SHARE_DIR names, /run/quorvel-refclock (the unit's RuntimeDirectory) when
// it is not set; on Windows a named pipe per port.
inline constexpr const char *ShareFolderVariable = "QUORVEL_SHARE_DIR";
inline constexpr const char *DefaultShareFolder = "/run/quorvel-refclock";

QString shareFolder();

// The socket for `device` (a path such as /dev/ttyUSB0 or a link to it): named after the
// device the path leads to, "ttyUSB0.socket", "pts_3.socket", so that the service given a
// path and the window given "ComN" meet at the same device. Empty when the name would not
// fit in a Unix socket's address. On Windows the pipe's name, which QLocalServer puts under
// \\.\pipe\: "quorvel-refclock-COM1" for "COM1" or "\\.\COM1".
QString shareSocketPath(const QString &device);

// Beside the device's socket, the service's state: "ttyUSB0.state.socket" for
// "ttyUSB0.socket" (on Windows the pipe "quorvel-refclock-COM1.state.socket"). Empty when
// `socketPath` is.
QString stateSocketPath(const QString &socketPath);
// The state sockets in the share folder, one per running service; on Windows the state pipes
// of the services of COM1 to COM4.
QStringList stateSockets();
