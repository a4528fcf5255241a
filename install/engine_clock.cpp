#include "install/engine_clock.h"

#include "platform/threads.h"

namespace
{

class SystemClock : public CKrEngineClock
{
public:
    uint64_t NowMs() override
    {
        uint64_t frequency = kr::os::PerformanceFrequency();
        if (frequency == 0)
            return kr::os::TickCountMs();
        uint64_t counter = kr::os::PerformanceCounter();
        return counter / frequency * 1000 + counter % frequency * 1000 / frequency;
    }

    bool Sleep(uint32_t ms, const std::atomic<bool>& running) override
    {
        while (ms > 0 && running.load(std::memory_order_acquire))
        {
            uint32_t step = ms < 20 ? ms : 20;
            kr::os::SleepMs(step);
            ms -= step;
        }
        return running.load(std::memory_order_acquire);
    }
};

} // namespace

CKrEngineClock& SystemEngineClock()
{
    static SystemClock clock;
    return clock;
}
