#include "services/clock.h"

#include "platform/threads.h"

#include <atomic>
#include <mutex>

namespace {

struct ClockState
{
    bool highResolution = false;
    uint64_t frequency = 0;
    uint64_t baseMs = 0;
    uint32_t baseTick = 0;
};

// Exact, and split so that counter * 1000 cannot overflow after long uptimes.
uint64_t CounterToMs(uint64_t counter, uint64_t frequency)
{
    return (counter / frequency) * 1000 + (counter % frequency) * 1000 / frequency;
}

const ClockState& State()
{
    static std::once_flag once;
    static ClockState state;
    std::call_once(once, [] {
        state.frequency = kr::os::PerformanceFrequency();
        state.highResolution = state.frequency != 0;
        if (state.highResolution)
            state.baseMs = CounterToMs(kr::os::PerformanceCounter(), state.frequency);
        state.baseTick = kr::os::TickCountMs();
    });
    return state;
}

std::atomic<CKrTime::ClockSource> g_testSource{nullptr};

} // namespace

uint32_t CKrTime::Now()
{
    if (ClockSource source = g_testSource.load(std::memory_order_acquire))
        return source();
    const ClockState& state = State();
    if (state.highResolution)
        return static_cast<uint32_t>(CounterToMs(kr::os::PerformanceCounter(), state.frequency) - state.baseMs);
    return kr::os::TickCountMs() - state.baseTick;
}

float CKrTime::GetElapsedSeconds() const
{
    uint32_t elapsed = Now() - m_startMs;
    return static_cast<float>(static_cast<double>(elapsed) * 0.001);
}

void CKrTime::SetClockSourceForTesting(ClockSource source)
{
    g_testSource.store(source, std::memory_order_release);
}
