#pragma once

#include <windows.h>

// The reader thread of a Provider (its argument): connects to the service's pipe, checks that
// the service serves it, hands each valid sample to the provider, reconnects when the pipe goes
// away, and ends when the provider's stop event is set. It waits on nothing else: overlapped
// reads, and the stop event beside each of them.
DWORD WINAPI pipeReaderThread(void *provider);
