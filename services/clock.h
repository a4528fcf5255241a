#pragma once
#include <cstdint>

// Stopwatch over the process-wide millisecond clock.
class CKrTime
{
public:
    CKrTime() : m_startMs(Now()) {}
    virtual ~CKrTime() = default;

    // Milliseconds since the clock was first read; wraps at 32 bits, so take differences unsigned.
    static uint32_t Now();
    void Restart() { m_startMs = Now(); }
    float GetElapsedSeconds() const;
    uint32_t StartMs() const { return m_startMs; }

    // Tests replace the clock to drive time-based rules without waiting; null restores the real one.
    using ClockSource = uint32_t (*)();
    static void SetClockSourceForTesting(ClockSource source);

private:
    uint32_t m_startMs;
};
