#include "samplepipe/samplepipe.h"
#include "samplepipe/serverprocess.h"
#include "timeprovider/provider.h"

#include <cwchar>

namespace {

constexpr DWORD RetryMs = 1000;        // after the pipe went away or was not there
constexpr DWORD RefusedRetryMs = 5000; // after a server that is not the service, or garbage

enum class Read { Record, Stopped, Broken };

// Reads one whole record, waiting on the read and the stop event together.
Read readRecord(HANDLE pipe, HANDLE stop, OVERLAPPED *overlapped, SamplePipe::Message *message)
{
    auto *bytes = reinterpret_cast<BYTE *>(message);
    DWORD have = 0;
    while (have < sizeof(*message)) {
        ResetEvent(overlapped->hEvent);
        if (!ReadFile(pipe, bytes + have, sizeof(*message) - have, nullptr, overlapped)
            && GetLastError() != ERROR_IO_PENDING)
            return Read::Broken;
        HANDLE waits[2] = {stop, overlapped->hEvent};
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        DWORD got = 0;
        if (woken != WAIT_OBJECT_0 + 1) {
            // The read must be over before its buffer and OVERLAPPED go.
            CancelIoEx(pipe, overlapped);
            GetOverlappedResult(pipe, overlapped, &got, TRUE);
            return woken == WAIT_OBJECT_0 ? Read::Stopped : Read::Broken;
        }
        if (!GetOverlappedResult(pipe, overlapped, &got, FALSE) || got == 0)
            return Read::Broken;
        have += got;
    }
    return Read::Record;
}

// What the reader last told the event log, so that it says each change once.
struct Said
{
    int what = -1;
    DWORD process = 0;
};

enum Note { Connected, Refused, Lost, Garbled, Dropped };

void note(const Provider &provider, Said *said, int what, DWORD process, WORD type,
          const WCHAR *text)
{
    if (said->what == what && said->process == process)
        return;
    said->what = what;
    said->process = process;
    provider.log(type, text);
}

enum class End { Stopped, Lost, Garbled };

// Reads samples until the pipe breaks, it carries something else, or the provider stops.
End readSamples(Provider &provider, HANDLE pipe, OVERLAPPED *overlapped, Said *said)
{
    for (;;) {
        SamplePipe::Message message;
        switch (readRecord(pipe, provider.stopEvent(), overlapped, &message)) {
        case Read::Stopped:
            return End::Stopped;
        case Read::Broken:
            note(provider, said, Lost, 0, EVENTLOG_WARNING_TYPE,
                 L"Se perdió la conexión con el servicio quorvel-refclock; se reintenta cada "
                 L"segundo.");
            return End::Lost;
        case Read::Record:
            break;
        }
        switch (SamplePipe::checkRecord(message, provider.systemTime())) {
        case SamplePipe::RecordCheck::Valid:
            provider.received(message);
            break;
        case SamplePipe::RecordCheck::OutOfBounds:
            note(provider, said, Dropped, 0, EVENTLOG_WARNING_TYPE,
                 L"Muestra de quorvel-refclock fuera de límites: descartada.");
            break;
        case SamplePipe::RecordCheck::NotAMessage:
            note(provider, said, Garbled, 0, EVENTLOG_ERROR_TYPE,
                 L"quorvel-refclock envía datos que no son muestras: se cierra la conexión.");
            return End::Garbled;
        }
    }
}

void refuse(const Provider &provider, Said *said, const ServerCheck &check)
{
    WCHAR text[256];
    switch (check.result) {
    case ServerCheck::NotService:
        std::swprintf(text, sizeof(text) / sizeof(text[0]),
                      L"Rechazado: el proceso %lu sirve %ls y no es el servicio %ls (proceso %lu).",
                      static_cast<unsigned long>(check.serverProcess), SamplePipe::Name,
                      SamplePipe::ServiceName, static_cast<unsigned long>(check.serviceProcess));
        break;
    case ServerCheck::NoService:
        std::swprintf(text, sizeof(text) / sizeof(text[0]),
                      L"Rechazado: %ls lo sirve el proceso %lu, y el servicio %ls no se puede "
                      L"consultar (error %lu).",
                      SamplePipe::Name, static_cast<unsigned long>(check.serverProcess),
                      SamplePipe::ServiceName, static_cast<unsigned long>(check.error));
        break;
    default:
        std::swprintf(text, sizeof(text) / sizeof(text[0]),
                      L"Rechazado: %ls no dice qué proceso lo sirve (error %lu).", SamplePipe::Name,
                      static_cast<unsigned long>(check.error));
        break;
    }
    note(provider, said, Refused, check.serverProcess, EVENTLOG_ERROR_TYPE, text);
}

void run(Provider &provider)
{
    provider.readPollInterval();
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        provider.log(EVENTLOG_ERROR_TYPE, L"Sin recursos para leer las muestras.");
        return;
    }
    Said said;
    bool stopped = false;
    while (!stopped && WaitForSingleObject(provider.stopEvent(), 0) == WAIT_TIMEOUT) {
        DWORD retry = RetryMs;
        // Read access only; the service learns nothing of the Time service's identity.
        HANDLE pipe =
            CreateFileW(SamplePipe::Name, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            const ServerCheck check = checkPipeServer(pipe);
            if (check.result == ServerCheck::Service) {
                WCHAR text[160];
                std::swprintf(text, sizeof(text) / sizeof(text[0]),
                              L"Recibiendo muestras del servicio %ls (proceso %lu).",
                              SamplePipe::ServiceName,
                              static_cast<unsigned long>(check.serverProcess));
                note(provider, &said, Connected, check.serverProcess, EVENTLOG_INFORMATION_TYPE,
                     text);
                const End end = readSamples(provider, pipe, &overlapped, &said);
                stopped = end == End::Stopped;
                if (end == End::Garbled)
                    retry = RefusedRetryMs;
            } else {
                refuse(provider, &said, check);
                retry = RefusedRetryMs;
            }
            CloseHandle(pipe);
        }
        if (!stopped)
            WaitForSingleObject(provider.stopEvent(), retry);
    }
    CloseHandle(overlapped.hEvent);
}

} // namespace

DWORD WINAPI pipeReaderThread(void *context)
{
    auto *provider = static_cast<Provider *>(context);
    const HMODULE module = provider->module();
    run(*provider);
    provider->release();
    FreeLibraryAndExitThread(module, 0);
}
