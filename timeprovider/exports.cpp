// The three functions the Windows Time service calls in a time provider DLL (timeprov.h).
// They run in the Time service's process: no exception leaves them, every pointer is checked,
// and each returns at once (a lock and a copy); TimeProvClose waits at most 4 s for the reader.

#include "timeprovider/provider.h"

#include <windows.h>

#include <new>
#include <timeprov.h>

namespace {

// The providers open now; a handle the Time service passes must be one of them.
constexpr int MaxProviders = 4;
SRWLOCK g_lock = SRWLOCK_INIT;
Provider *g_open[MaxProviders] = {};

constexpr DWORD CloseWaitMs = 4000; // TimeProvClose must return within 5 s

// The provider of `handle`, with a reference the caller releases; null when unknown.
Provider *acquire(TimeProvHandle handle)
{
    Provider *found = nullptr;
    AcquireSRWLockShared(&g_lock);
    for (Provider *open : g_open) {
        if (open != nullptr && open == handle) {
            found = open;
            found->addRef();
        }
    }
    ReleaseSRWLockShared(&g_lock);
    return found;
}

bool enter(Provider *provider)
{
    bool placed = false;
    AcquireSRWLockExclusive(&g_lock);
    for (Provider *&slot : g_open) {
        if (!placed && slot == nullptr) {
            slot = provider;
            placed = true;
        }
    }
    ReleaseSRWLockExclusive(&g_lock);
    return placed;
}

// Takes `handle` out of the open providers, handing over their reference.
Provider *leave(TimeProvHandle handle)
{
    Provider *found = nullptr;
    AcquireSRWLockExclusive(&g_lock);
    for (Provider *&slot : g_open) {
        if (slot != nullptr && slot == handle) {
            found = slot;
            slot = nullptr;
        }
    }
    ReleaseSRWLockExclusive(&g_lock);
    return found;
}

} // namespace

HRESULT WINAPI TimeProvOpen(WCHAR *wszName, TimeProvSysCallbacks *pSysCallbacks,
                            TimeProvHandle *phTimeProv)
{
    if (phTimeProv == nullptr || pSysCallbacks == nullptr)
        return E_INVALIDARG;
    *phTimeProv = nullptr;
    // The callbacks are copied: the structure is gone when this returns.
    auto *provider = new (std::nothrow) Provider(wszName, *pSysCallbacks);
    if (provider == nullptr)
        return E_OUTOFMEMORY;
    if (!enter(provider)) {
        provider->release();
        return HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);
    }
    if (!provider->start()) {
        const DWORD error = GetLastError();
        leave(provider);
        provider->release();
        return HRESULT_FROM_WIN32(error != 0 ? error : ERROR_OUTOFMEMORY);
    }
    *phTimeProv = provider;
    return S_OK;
}

HRESULT WINAPI TimeProvCommand(TimeProvHandle hTimeProv, TimeProvCmd eCmd, TimeProvArgs pvArgs)
{
    Provider *provider = acquire(hTimeProv);
    if (provider == nullptr)
        return E_INVALIDARG;
    HRESULT result = S_OK;
    switch (eCmd) {
    case TPC_GetSamples:
        result = provider->getSamples(static_cast<TpcGetSamplesArgs *>(pvArgs));
        break;
    case TPC_TimeJumped:
        // Whoever asked for it, the samples measured against the old clock are gone.
        provider->timeJumped();
        break;
    case TPC_PollIntervalChanged:
        provider->readPollInterval();
        break;
    case TPC_UpdateConfig:
        // The provider keeps no configuration of its own in the registry.
        break;
    case TPC_NetTopoChange:
        // A local device: the network does not matter.
        break;
    case TPC_Shutdown:
        // The reader starts ending now; TimeProvClose waits for it.
        provider->stop();
        break;
    case TPC_Query:
        // Reserved by the Time service.
        result = E_NOTIMPL;
        break;
    default:
        result = E_INVALIDARG;
        break;
    }
    provider->release();
    return result;
}

HRESULT WINAPI TimeProvClose(TimeProvHandle hTimeProv)
{
    Provider *provider = leave(hTimeProv);
    if (provider == nullptr)
        return E_INVALIDARG;
    provider->stop();
    // A reader that is still in a call of the Time service ends by itself later: it holds its
    // own reference to the provider and to the DLL.
    const bool stopped = provider->waitStopped(CloseWaitMs);
    provider->release();
    return stopped ? S_OK : S_FALSE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return TRUE;
}
