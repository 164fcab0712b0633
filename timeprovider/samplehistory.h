#pragma once

#include "samplepipe/samplepipe.h"

#include <windows.h>

#include <timeprov.h>

// The recent samples of the service, as the provider holds them, and the one TimeSample that
// the Time service gets from them. Fixed storage: nothing is allocated.
struct HeldSample
{
    std::int64_t offset = 0;          // device time minus system time, 100 ns
    std::uint64_t dispersion = 0;     // the service's own estimate, 100 ns (0: none)
    unsigned long long tickCount = 0; // TSI_TickCount when it arrived
    long long phaseOffset = 0;        // TSI_PhaseOffset when it arrived
    unsigned long long arrivedMs = 0; // GetTickCount64 when it arrived: its age
    char source[sizeof(SamplePipe::Message::source)] = {};
};

class SampleHistory
{
public:
    static constexpr int Capacity = 16;
    // Below this the error of a sample is not taken: a character at 4800 baud lasts 2 ms.
    static constexpr unsigned long long MinDispersion = 10000; // 1 ms
    // A sample older than this is no longer offered.
    static constexpr unsigned long long StaleAfterMs = 60000;

    void add(const HeldSample &sample);
    void clear()
    {
        m_count = 0;
        m_next = 0;
    }
    bool empty() const { return m_count == 0; }

    // The latest sample as the Time service takes it, `nowMs` being GetTickCount64: its
    // offset; as dispersion the service's estimate (at least MinDispersion), plus the spread
    // of the recent offsets around it, plus 15 ppm of its age. False when there is no sample
    // or the latest is stale.
    bool latest(unsigned long long nowMs, TimeSample *out) const;

private:
    HeldSample m_samples[Capacity];
    int m_count = 0;
    int m_next = 0; // where the next sample goes
};
