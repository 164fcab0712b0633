#include "timeprovider/samplehistory.h"

#include <cmath>
#include <cstring>

void SampleHistory::add(const HeldSample &sample)
{
    m_samples[m_next] = sample;
    m_next = (m_next + 1) % Capacity;
    if (m_count < Capacity)
        ++m_count;
}

bool SampleHistory::latest(unsigned long long nowMs, TimeSample *out) const
{
    if (m_count == 0)
        return false;
    const HeldSample &last = m_samples[(m_next + Capacity - 1) % Capacity];
    const unsigned long long ageMs = nowMs > last.arrivedMs ? nowMs - last.arrivedMs : 0;
    if (ageMs > StaleAfterMs)
        return false;

    // The spread: root mean square of the other recent offsets around the latest one, as NTP
    // takes its jitter. Offsets are bounded to a year, so the squares stay well inside a double.
    double squares = 0;
    for (int i = 0; i < m_count; ++i) {
        const double difference = double(m_samples[i].offset) - double(last.offset);
        squares += difference * difference;
    }
    const unsigned long long spread =
        m_count > 1 ? static_cast<unsigned long long>(std::sqrt(squares / (m_count - 1))) : 0;
    const unsigned long long own =
        last.dispersion > MinDispersion ? last.dispersion : MinDispersion;
    // 15 ppm, NTP's bound on a computer clock's frequency error: 0.15 units of 100 ns per ms.
    const unsigned long long ageing = ageMs * 15 / 100;

    TimeSample sample;
    std::memset(&sample, 0, sizeof(sample));
    sample.dwSize = sizeof(TimeSample);
    // NTP's reference identifier of a hardware source: four ASCII bytes in packet order.
    static constexpr char refid[4] = {'G', 'P', 'S', '\0'};
    std::memcpy(&sample.dwRefid, refid, sizeof(refid));
    sample.toOffset = last.offset;
    sample.toDelay = 0;
    sample.tpDispersion = own + spread + ageing;
    sample.nSysTickCount = last.tickCount;
    sample.nSysPhaseOffset = last.phaseOffset;
    sample.nLeapFlags = 0;
    sample.nStratum = 0;
    sample.dwTSFlags = TSF_Hardware;

    // "Quorvel GPS (COM3)": the device and its port.
    static constexpr wchar_t prefix[] = L"Quorvel GPS";
    std::size_t length = 0;
    for (; prefix[length] != L'\0'; ++length)
        sample.wszUniqueName[length] = prefix[length];
    if (last.source[0] != '\0') {
        sample.wszUniqueName[length++] = L' ';
        sample.wszUniqueName[length++] = L'(';
        for (std::size_t i = 0; i < sizeof(last.source) && last.source[i] != '\0'; ++i)
            sample.wszUniqueName[length++] = static_cast<wchar_t>(last.source[i]);
        sample.wszUniqueName[length++] = L')';
    }
    sample.wszUniqueName[length] = L'\0';

    *out = sample;
    return true;
}
