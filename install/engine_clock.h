#pragma once
// The engine's clock: every wait of the engine and every retry time goes through it, so that tests
// drive back-off and pacing with a clock they set (tests/support/fake_transport.h) instead of
// waiting for real time.
#include <atomic>
#include <cstdint>

class CKrEngineClock
{
public:
    virtual ~CKrEngineClock() = default;
    // Milliseconds on a monotonic scale; only differences mean anything.
    virtual uint64_t NowMs() = 0;
    // Waits `ms`, or less once `running` is cleared; returns `running` afterwards. Long waits are
    // cut into short steps so that stopping the engine is never held up.
    virtual bool Sleep(uint32_t ms, const std::atomic<bool>& running) = 0;
};

// The real clock: the platform's monotonic counter and sleeps of at most 20 ms at a time.
CKrEngineClock& SystemEngineClock();
