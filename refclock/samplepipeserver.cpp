#include "refclock/samplepipeserver.h"

#include "samplepipe/samplepipe.h"

#include <cstring>

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SamplePipeServer", text);
}

// The pipe's buffer: many samples, so that a write completes at once while the provider reads.
constexpr DWORD BufferBytes = 64 * sizeof(SamplePipe::Message);

QString errorText(DWORD error)
{
    return tr("error %1 de Windows").arg(error);
}

} // namespace

SamplePipeServer::SamplePipeServer(const QByteArray &source)
    : m_source(source), m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

SamplePipeServer::~SamplePipeServer()
{
    close();
    if (m_event != nullptr)
        CloseHandle(m_event);
}

QString SamplePipeServer::name()
{
    return QString::fromWCharArray(SamplePipe::Name);
}

bool SamplePipeServer::create(QString *reason)
{
    m_pipe = CreateNamedPipeW(
        SamplePipe::Name,
        PIPE_ACCESS_OUTBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, BufferBytes, 0, 0, nullptr);
    if (m_pipe == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *reason = error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY
                      ? tr("otro proceso tiene el nombre de la tubería")
                      : errorText(error);
        return false;
    }
    m_overlapped = {};
    ResetEvent(m_event);
    m_overlapped.hEvent = m_event;
    m_writing = false;
    if (ConnectNamedPipe(m_pipe, &m_overlapped)) {
        m_state = State::Connected; // an overlapped call that returns TRUE has connected
        return true;
    }
    switch (GetLastError()) {
    case ERROR_PIPE_CONNECTED:
        m_state = State::Connected;
        return true;
    case ERROR_IO_PENDING:
        m_state = State::Waiting;
        return true;
    default:
        *reason = errorText(GetLastError());
        close();
        return false;
    }
}

void SamplePipeServer::close()
{
    if (m_pipe != INVALID_HANDLE_VALUE) {
        // The wait or write under way ends with the handle; wait for it, so that the
        // OVERLAPPED and the bytes it names are free.
        CancelIoEx(m_pipe, nullptr);
        DWORD unused = 0;
        if (m_state == State::Waiting || m_writing)
            GetOverlappedResult(m_pipe, &m_overlapped, &unused, TRUE);
        CloseHandle(m_pipe);
    }
    m_pipe = INVALID_HANDLE_VALUE;
    m_state = State::Closed;
    m_writing = false;
}

bool SamplePipeServer::connected(QString *reason)
{
    if (m_state == State::Connected)
        return true;
    DWORD unused = 0;
    if (GetOverlappedResult(m_pipe, &m_overlapped, &unused, FALSE)) {
        m_state = State::Connected;
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE) {
        *reason = tr("el proveedor de hora de Windows no se ha conectado");
        return false;
    }
    // A client that came and went before the wait ended: wait anew.
    *reason = errorText(error);
    close();
    return false;
}

bool SamplePipeServer::writePending(QString *reason)
{
    if (!m_writing)
        return false;
    DWORD written = 0;
    if (GetOverlappedResult(m_pipe, &m_overlapped, &written, FALSE)) {
        m_writing = false;
        return false;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE) {
        *reason = tr("el proveedor no lee: la muestra anterior sigue pendiente");
        return true;
    }
    m_writing = false;
    return false; // the write failed: the next WriteFile says why
}

SampleSink::Result SamplePipeServer::send(UtcTime systemTime, std::chrono::microseconds offset,
                                          QString *reason)
{
    QString why;
    if (m_state == State::Closed && !create(&why)) {
        if (reason)
            *reason = why;
        return Failed;
    }
    if (!connected(&why)) {
        if (reason)
            *reason = why;
        return NotListening;
    }
    if (writePending(&why)) {
        if (reason)
            *reason = why;
        return Failed;
    }
    const SamplePipe::Message message = SamplePipe::encode(
        systemTime.time_since_epoch().count(), offset.count(), ++m_sequence, m_source.constData());
    m_pending = QByteArray(int(sizeof message), '\0');
    std::memcpy(m_pending.data(), &message, sizeof message);
    ResetEvent(m_event);
    m_overlapped = {};
    m_overlapped.hEvent = m_event;
    if (WriteFile(m_pipe, m_pending.constData(), DWORD(m_pending.size()), nullptr, &m_overlapped))
        return Sent;
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        m_writing = true;
        return Sent;
    }
    // The provider closed its end (ERROR_NO_DATA, ERROR_BROKEN_PIPE): the pipe is made anew for
    // its next connection.
    close();
    if (reason)
        *reason = error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE
                      ? tr("el proveedor se desconectó")
                      : errorText(error);
    return NotListening;
}

std::optional<bool> SamplePipeServer::receiverConnected() const
{
    if (m_state == State::Waiting)
        return HasOverlappedIoCompleted(&m_overlapped) != FALSE;
    return m_state == State::Connected;
}
