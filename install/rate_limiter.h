#pragma once
// The download speed limit: one token bucket shared by every transfer of an engine. A transfer asks
// for the bytes it just received before writing them; when the bucket is in debt it waits, on the
// engine's clock and with the engine's stop flag, until the debt is paid at the set rate. Debt rather
// than refusal keeps it simple with large reads: a read always passes, the next one pays for it.
#include "install/engine_clock.h"
#include "services/mutex.h"

#include <atomic>
#include <cstdint>

class CKrRateLimiter
{
public:
    explicit CKrRateLimiter(CKrEngineClock* clock = nullptr) : m_clock(clock) {}
    void SetClock(CKrEngineClock* clock) { m_clock = clock; }
    // Bytes per second for all transfers together; 0 lifts the limit.
    void SetRate(uint64_t bytesPerSecond);
    uint64_t Rate();
    // Takes `bytes` from the bucket and waits as long as that leaves it in debt. False when
    // `running` was cleared while waiting.
    bool Acquire(uint64_t bytes, const std::atomic<bool>& running);
    // The wait Acquire would impose for `bytes` now, without taking them (for tests).
    uint32_t WaitFor(uint64_t bytes);

private:
    void Refill(uint64_t now);

    CKrEngineClock* m_clock;
    CKrMutex m_mutex;
    uint64_t m_rate = 0;
    int64_t m_tokens = 0; // below 0: debt
    uint64_t m_lastMs = 0;
    bool m_started = false;
};
