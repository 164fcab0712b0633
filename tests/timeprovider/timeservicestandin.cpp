// Stands in for the Windows Time service, as Microsoft documents its side of a time provider
// (timeprov.h): loads the DLL, opens the provider with the callbacks, asks TPC_GetSamples when
// alerted, sends the other commands, closes; times every call (a command past 0.5 s fails, the
// close past 5 s) and prints the sample.
//   timeservicestandin DLL sample OFFSET DISPERSION OFFSET2 DISPERSION2 EVENT
//     expects a sample of OFFSET with DISPERSION (plus its ageing); after TPC_TimeJumped none,
//     until EVENT, set here, brings OFFSET2 with DISPERSION2 on a new connection
//   timeservicestandin DLL refused
//     expects the provider to log its refusal of the pipe's server, and no sample
//   timeservicestandin DLL chain OFFSET TOLERANCE
//     expects samples from the real service (quorvel-refclock's code) on COM1: the offset
//     within TOLERANCE of OFFSET (100 ns), twice, 2 s apart

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <timeprov.h>

namespace {

HANDLE g_alerted = nullptr;
volatile LONG g_pollAsked = 0;
volatile LONG g_refusals = 0;
volatile LONG g_outOfBounds = 0;
volatile LONG g_garbled = 0;
int g_failures = 0;

void check(bool ok, const char *what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
    if (!ok)
        ++g_failures;
}

HRESULT WINAPI getTimeSysInfo(TimeSysInfo what, void *value)
{
    switch (what) {
    case TSI_CurrentTime: {
        FILETIME now;
        GetSystemTimePreciseAsFileTime(&now);
        *static_cast<unsigned __int64 *>(value) =
            (static_cast<unsigned __int64>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        return S_OK;
    }
    case TSI_TickCount:
        *static_cast<unsigned __int64 *>(value) = GetTickCount64();
        return S_OK;
    case TSI_PhaseOffset:
        *static_cast<signed __int64 *>(value) = 0;
        return S_OK;
    case TSI_PollInterval:
        InterlockedIncrement(&g_pollAsked);
        *static_cast<signed __int32 *>(value) = 6; // 64 s
        return S_OK;
    default:
        return E_NOTIMPL;
    }
}

HRESULT WINAPI logEvent(WORD type, WCHAR *provider, WCHAR *message)
{
    std::printf("log %u %ls: %ls\n", type, provider, message);
    if (type == EVENTLOG_ERROR_TYPE && std::wcsstr(message, L"Rechazado") != nullptr)
        InterlockedIncrement(&g_refusals);
    if (type == EVENTLOG_WARNING_TYPE && std::wcsstr(message, L"fuera de l") != nullptr)
        InterlockedIncrement(&g_outOfBounds);
    if (type == EVENTLOG_ERROR_TYPE && std::wcsstr(message, L"no son muestras") != nullptr)
        InterlockedIncrement(&g_garbled);
    return S_OK;
}

HRESULT WINAPI alert()
{
    SetEvent(g_alerted);
    return S_OK;
}

HRESULT WINAPI setStatus(SetProviderStatusInfo *)
{
    return S_OK;
}

template <typename F> F function(HMODULE dll, const char *name)
{
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}

decltype(&TimeProvCommand) g_command = nullptr;
TimeProvHandle g_handle = nullptr;
double g_slowestMs = 0;

double msSince(LARGE_INTEGER start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

HRESULT command(TimeProvCmd which, void *args, const char *name)
{
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const HRESULT result = g_command(g_handle, which, args);
    const double ms = msSince(start);
    g_slowestMs = ms > g_slowestMs ? ms : g_slowestMs;
    char what[96];
    std::snprintf(what, sizeof(what), "%s returns in %.3f ms (0x%08lx)", name, ms,
                  static_cast<unsigned long>(result));
    check(ms < 500, what);
    return result;
}

struct Samples
{
    TpcGetSamplesArgs args = {};
    TimeSample buffer[2] = {};
    HRESULT result = S_OK;
};

Samples getSamples(DWORD bytes)
{
    Samples got;
    got.args.pbSampleBuf = reinterpret_cast<BYTE *>(got.buffer);
    got.args.cbSampleBuf = bytes;
    got.result = command(TPC_GetSamples, &got.args, "TPC_GetSamples");
    return got;
}

void print(const TimeSample &s)
{
    char refid[5] = {};
    std::memcpy(refid, &s.dwRefid, 4);
    std::printf("sample: offset %lld dispersion %llu delay %lld refid \"%s\" stratum %u leap %u "
                "flags 0x%lx tick %llu phase %lld name \"%ls\"\n",
                s.toOffset, s.tpDispersion, s.toDelay, refid, s.nStratum, s.nLeapFlags,
                static_cast<unsigned long>(s.dwTSFlags), s.nSysTickCount, s.nSysPhaseOffset,
                s.wszUniqueName);
}

// Waits for the alert, then asks 1 s later, as the Time service does (after up to 16 s).
bool alerted(DWORD ms, LARGE_INTEGER *when)
{
    const bool woken = WaitForSingleObject(g_alerted, ms) == WAIT_OBJECT_0;
    QueryPerformanceCounter(when);
    Sleep(1000);
    return woken;
}

void expectSample(long long offset, unsigned long long dispersion, LARGE_INTEGER alertTime,
                  unsigned long long openTick)
{
    Samples small = getSamples(sizeof(TimeSample) - 1);
    check(small.result == HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)
              && small.args.dwSamplesReturned == 0 && small.args.dwSamplesAvailable == 1,
          "a buffer too small: ERROR_INSUFFICIENT_BUFFER, none returned, one available");
    Samples got = getSamples(sizeof(got.buffer));
    check(got.result == S_OK && got.args.dwSamplesReturned == 1, "one sample returned");
    const TimeSample &s = got.buffer[0];
    print(s);
    check(s.dwSize == sizeof(TimeSample), "dwSize");
    check(std::llabs(s.toOffset - offset) <= 1, "offset as fed, within 1 unit of 100 ns");
    const unsigned long long ageing =
        static_cast<unsigned long long>(msSince(alertTime) * 0.15) + 1;
    check(s.tpDispersion >= dispersion && s.tpDispersion <= dispersion + ageing,
          "dispersion: the service's, the spread and the ageing");
    check(std::memcmp(&s.dwRefid, "GPS", 4) == 0, "refid GPS in packet order");
    check(s.nStratum == 0 && s.nLeapFlags == 0 && s.toDelay == 0, "stratum 0, no leap, no delay");
    check(s.dwTSFlags == TSF_Hardware, "TSF_Hardware");
    check(s.nSysTickCount >= openTick && s.nSysTickCount <= GetTickCount64(),
          "tick count from TSI_TickCount");
    check(std::wcscmp(s.wszUniqueName, L"Quorvel GPS (COM3)") == 0, "unique name with the port");
}

void sampleRun(long long offset, unsigned long long dispersion, long long offset2,
               unsigned long long dispersion2, const wchar_t *nextEvent,
               unsigned long long openTick)
{
    LARGE_INTEGER alertTime;
    check(alerted(60000, &alertTime), "alerted to the first sample");
    expectSample(offset, dispersion, alertTime, openTick);
    check(g_outOfBounds > 0, "a sample measured too long ago is dropped, and said so");

    const LONG asked = g_pollAsked;
    command(TPC_PollIntervalChanged, nullptr, "TPC_PollIntervalChanged");
    check(g_pollAsked > asked, "TPC_PollIntervalChanged reads TSI_PollInterval");
    command(TPC_UpdateConfig, nullptr, "TPC_UpdateConfig");
    TpcNetTopoChangeArgs topo = {NTC_Default};
    command(TPC_NetTopoChange, &topo, "TPC_NetTopoChange");
    check(command(TPC_Query, nullptr, "TPC_Query") != S_OK, "TPC_Query is not answered");
    check(command(static_cast<TimeProvCmd>(77), nullptr, "unknown command") == E_INVALIDARG,
          "an unknown command is refused");
    check(command(TPC_GetSamples, nullptr, "TPC_GetSamples") == E_INVALIDARG,
          "TPC_GetSamples without its arguments is refused");
    check(g_command(reinterpret_cast<TimeProvHandle>(&g_failures), TPC_GetSamples, nullptr)
              == E_INVALIDARG,
          "a handle that is not the provider's is refused");

    ResetEvent(g_alerted);
    TpcTimeJumpedArgs jumped = {TJF_Default};
    command(TPC_TimeJumped, &jumped, "TPC_TimeJumped");
    Samples none = getSamples(sizeof(none.buffer));
    check(none.args.dwSamplesReturned == 0 && none.args.dwSamplesAvailable == 0,
          "TPC_TimeJumped discards the samples held");

    HANDLE next = OpenEventW(EVENT_MODIFY_STATE, FALSE, nextEvent);
    check(next != nullptr && SetEvent(next), "the service is told to reconnect");
    check(alerted(30000, &alertTime), "alerted again after the pipe came back");
    check(g_garbled > 0, "a record that is not a sample closes the connection, and is said");
    // Only the new connection's samples count, the spread too.
    expectSample(offset2, dispersion2, alertTime, openTick);
    if (next != nullptr)
        CloseHandle(next);
}

void refusedRun()
{
    for (int i = 0; i < 300 && g_refusals == 0; ++i)
        Sleep(100);
    check(g_refusals > 0, "the provider logs that it refuses the pipe's server");
    LARGE_INTEGER unused;
    check(!alerted(2000, &unused), "no alert");
    Samples none = getSamples(sizeof(none.buffer));
    check(none.args.dwSamplesReturned == 0 && none.args.dwSamplesAvailable == 0, "no sample");
}

void chainRun(long long offset, long long tolerance)
{
    LARGE_INTEGER alertTime;
    check(alerted(60000, &alertTime), "alerted to the first sample of the service");
    for (int round = 0; round < 2; ++round) {
        Samples got = getSamples(sizeof(got.buffer));
        check(got.result == S_OK && got.args.dwSamplesReturned == 1, "one sample returned");
        const TimeSample &s = got.buffer[0];
        print(s);
        std::printf("chain: offset %.4f ms from the simulated one\n",
                    double(s.toOffset - offset) / 10000.0);
        check(std::llabs(s.toOffset - offset) <= tolerance, "the offset the device has");
        check(std::wcscmp(s.wszUniqueName, L"Quorvel GPS (COM1)") == 0, "named for COM1");
        Sleep(2000);
    }
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    const bool sample = argc == 8 && std::wcscmp(argv[2], L"sample") == 0;
    const bool chain = argc == 5 && std::wcscmp(argv[2], L"chain") == 0;
    if (!sample && !chain && !(argc == 3 && std::wcscmp(argv[2], L"refused") == 0)) {
        std::printf("usage: timeservicestandin DLL sample OFFSET DISPERSION OFFSET2 DISPERSION2 "
                    "EVENT | "
                    "DLL refused | DLL chain OFFSET TOLERANCE\n");
        return 2;
    }
    g_alerted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HMODULE dll = LoadLibraryW(argv[1]);
    const auto open = function<decltype(&TimeProvOpen)>(dll, "TimeProvOpen");
    g_command = function<decltype(&TimeProvCommand)>(dll, "TimeProvCommand");
    const auto close = function<decltype(&TimeProvClose)>(dll, "TimeProvClose");
    check(dll != nullptr && open != nullptr && g_command != nullptr && close != nullptr,
          "the DLL exports TimeProvOpen, TimeProvCommand and TimeProvClose undecorated");
    if (g_failures > 0)
        return 1;

    TimeProvSysCallbacks callbacks = {sizeof(TimeProvSysCallbacks), getTimeSysInfo, logEvent, alert,
                                      setStatus};
    const unsigned long long openTick = GetTickCount64();
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const HRESULT opened = open(const_cast<WCHAR *>(L"QuorvelTimeProvider"), &callbacks, &g_handle);
    const double openMs = msSince(start);
    std::printf("TimeProvOpen returns in %.3f ms\n", openMs);
    check(opened == S_OK && g_handle != nullptr && openMs < 500, "TimeProvOpen");
    if (g_failures > 0)
        return 1;

    if (sample)
        sampleRun(std::wcstoll(argv[3], nullptr, 10), std::wcstoull(argv[4], nullptr, 10),
                  std::wcstoll(argv[5], nullptr, 10), std::wcstoull(argv[6], nullptr, 10), argv[7],
                  openTick);
    else if (chain)
        chainRun(std::wcstoll(argv[3], nullptr, 10), std::wcstoll(argv[4], nullptr, 10));
    else
        refusedRun();

    QueryPerformanceCounter(&start);
    const HRESULT closed = close(g_handle);
    const double closeMs = msSince(start);
    std::printf("TimeProvClose returns in %.3f ms; slowest command %.3f ms\n", closeMs,
                g_slowestMs);
    check(closed == S_OK && closeMs < 5000, "TimeProvClose within 5 s, the reader ended");
    FreeLibrary(dll);
    std::printf("%s\n", g_failures == 0 ? "PASS" : "FAIL");
    return g_failures == 0 ? 0 : 1;
}
