#include "timeprovider/provider.h"

#include <cstddef>
#include <cstring>

namespace {

// A callback the Time service gave, when the structure it passed is long enough to hold it.
template <typename T> T *callbackAt(const TimeProvSysCallbacks &given, std::size_t offset, T *value)
{
    return given.dwSize >= offset + sizeof(value) ? value : nullptr;
}

} // namespace

Provider::Provider(const WCHAR *name, const TimeProvSysCallbacks &callbacks)
{
    static constexpr WCHAR fallback[] = L"QuorvelTimeProvider";
    const WCHAR *source = name != nullptr && name[0] != L'\0' ? name : fallback;
    for (std::size_t i = 0; i + 1 < sizeof(m_name) / sizeof(m_name[0]) && source[i] != L'\0'; ++i)
        m_name[i] = source[i];
    m_callbacks.dwSize = sizeof(m_callbacks);
    m_callbacks.pfnGetTimeSysInfo = callbackAt(
        callbacks, offsetof(TimeProvSysCallbacks, pfnGetTimeSysInfo), callbacks.pfnGetTimeSysInfo);
    m_callbacks.pfnLogTimeProvEvent =
        callbackAt(callbacks, offsetof(TimeProvSysCallbacks, pfnLogTimeProvEvent),
                   callbacks.pfnLogTimeProvEvent);
    m_callbacks.pfnAlertSamplesAvail =
        callbackAt(callbacks, offsetof(TimeProvSysCallbacks, pfnAlertSamplesAvail),
                   callbacks.pfnAlertSamplesAvail);
    m_callbacks.pfnSetProviderStatus =
        callbackAt(callbacks, offsetof(TimeProvSysCallbacks, pfnSetProviderStatus),
                   callbacks.pfnSetProviderStatus);
}

Provider::~Provider()
{
    if (m_thread != nullptr)
        CloseHandle(m_thread);
    if (m_stop != nullptr)
        CloseHandle(m_stop);
}

bool Provider::start()
{
    m_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_stop == nullptr)
        return false;
    // The thread keeps the DLL loaded until it ends (FreeLibraryAndExitThread), even when the
    // Time service unloads it after a close that did not wait for the thread.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&pipeReaderThread), &m_module))
        return false;
    addRef();
    m_thread = CreateThread(nullptr, 0, pipeReaderThread, this, 0, nullptr);
    if (m_thread == nullptr) {
        InterlockedDecrement(&m_references);
        FreeLibrary(m_module);
        return false;
    }
    return true;
}

void Provider::stop()
{
    if (m_stop != nullptr)
        SetEvent(m_stop);
}

bool Provider::waitStopped(DWORD ms)
{
    return m_thread == nullptr || WaitForSingleObject(m_thread, ms) == WAIT_OBJECT_0;
}

void Provider::release()
{
    if (InterlockedDecrement(&m_references) == 0)
        delete this;
}

HRESULT Provider::getSamples(TpcGetSamplesArgs *args)
{
    if (args == nullptr)
        return E_INVALIDARG;
    TimeSample sample;
    AcquireSRWLockShared(&m_lock);
    const bool have = m_history.latest(GetTickCount64(), &sample);
    ReleaseSRWLockShared(&m_lock);

    args->dwSamplesReturned = 0;
    args->dwSamplesAvailable = have ? 1 : 0;
    if (!have)
        return S_OK;
    // The buffer must hold dwSamplesAvailable TimeSample structures.
    if (args->pbSampleBuf == nullptr || args->cbSampleBuf < sizeof(TimeSample))
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(args->pbSampleBuf, &sample, sizeof(sample));
    args->dwSamplesReturned = 1;
    return S_OK;
}

void Provider::timeJumped()
{
    AcquireSRWLockExclusive(&m_lock);
    m_history.clear();
    ReleaseSRWLockExclusive(&m_lock);
}

void Provider::readPollInterval()
{
    // log2 seconds; kept between 1 s and 2^16 s, whatever the answer.
    signed __int32 log2Seconds = 0;
    if (!sysInfo(TSI_PollInterval, &log2Seconds))
        return;
    if (log2Seconds < 0)
        log2Seconds = 0;
    if (log2Seconds > 16)
        log2Seconds = 16;
    AcquireSRWLockExclusive(&m_lock);
    m_alertEveryMs = 1000ULL << log2Seconds;
    ReleaseSRWLockExclusive(&m_lock);
}

unsigned long long Provider::systemTime() const
{
    unsigned __int64 now = 0;
    if (sysInfo(TSI_CurrentTime, &now))
        return now;
    FILETIME time;
    GetSystemTimePreciseAsFileTime(&time);
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void Provider::received(const SamplePipe::Message &message)
{
    HeldSample sample;
    sample.offset = message.offset;
    sample.dispersion = message.dispersion;
    unsigned __int64 tickCount = 0;
    sample.tickCount = sysInfo(TSI_TickCount, &tickCount) ? tickCount : GetTickCount64();
    signed __int64 phaseOffset = 0;
    sample.phaseOffset = sysInfo(TSI_PhaseOffset, &phaseOffset) ? phaseOffset : 0;
    sample.arrivedMs = GetTickCount64();
    std::memcpy(sample.source, message.source, sizeof(sample.source));

    // Alert when this is the first sample on offer, then at most once per poll interval: the
    // Time service asks for samples when alerted, or at its own pace.
    TimeSample unused;
    AcquireSRWLockExclusive(&m_lock);
    const bool first = !m_history.latest(sample.arrivedMs, &unused);
    m_history.add(sample);
    const bool alert = first || sample.arrivedMs - m_lastAlertMs >= m_alertEveryMs;
    if (alert)
        m_lastAlertMs = sample.arrivedMs;
    ReleaseSRWLockExclusive(&m_lock);
    // Outside the lock: the Time service may ask for the samples from inside the callback.
    if (alert && m_callbacks.pfnAlertSamplesAvail != nullptr)
        m_callbacks.pfnAlertSamplesAvail();
}

void Provider::log(WORD type, const WCHAR *message) const
{
    if (m_callbacks.pfnLogTimeProvEvent == nullptr)
        return;
    // The callback takes writable strings: hand it copies.
    WCHAR name[sizeof(m_name) / sizeof(m_name[0])];
    std::memcpy(name, m_name, sizeof(name));
    WCHAR text[512] = {};
    for (std::size_t i = 0; i + 1 < sizeof(text) / sizeof(text[0]) && message[i] != L'\0'; ++i)
        text[i] = message[i];
    m_callbacks.pfnLogTimeProvEvent(type, name, text);
}
