#include "install/rate_limiter.h"

namespace
{

// A quarter of a second of bytes may be saved up: enough to keep the connections busy between
// reads, too little for the limit to show as bursts in the progress bar.
int64_t Burst(uint64_t rate)
{
    int64_t burst = static_cast<int64_t>(rate / 4);
    return burst < 16384 ? 16384 : burst;
}

} // namespace

void CKrRateLimiter::SetRate(uint64_t bytesPerSecond)
{
    CKrScopedLock lock(m_mutex);
    m_rate = bytesPerSecond;
    m_tokens = 0;
    m_started = false;
}

uint64_t CKrRateLimiter::Rate()
{
    CKrScopedLock lock(m_mutex);
    return m_rate;
}

void CKrRateLimiter::Refill(uint64_t now)
{
    if (!m_started)
    {
        m_started = true;
        m_lastMs = now;
        m_tokens = Burst(m_rate);
        return;
    }
    if (now <= m_lastMs)
        return;
    uint64_t elapsed = now - m_lastMs;
    // Whole bytes only; the rest of the time is kept for the next refill.
    uint64_t gained = m_rate * elapsed / 1000;
    if (gained == 0)
        return;
    m_lastMs += gained * 1000 / m_rate;
    int64_t burst = Burst(m_rate);
    m_tokens = m_tokens + static_cast<int64_t>(gained) > burst ? burst : m_tokens + static_cast<int64_t>(gained);
}

uint32_t CKrRateLimiter::WaitFor(uint64_t bytes)
{
    CKrScopedLock lock(m_mutex);
    if (m_rate == 0 || !m_clock)
        return 0;
    Refill(m_clock->NowMs());
    int64_t after = m_tokens - static_cast<int64_t>(bytes);
    if (after >= 0)
        return 0;
    uint64_t debt = static_cast<uint64_t>(-after);
    uint64_t ms = (debt * 1000 + m_rate - 1) / m_rate;
    return ms > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
}

bool CKrRateLimiter::Acquire(uint64_t bytes, const std::atomic<bool>& running)
{
    uint32_t wait = 0;
    {
        CKrScopedLock lock(m_mutex);
        if (m_rate == 0 || !m_clock)
            return running.load(std::memory_order_acquire);
        Refill(m_clock->NowMs());
        m_tokens -= static_cast<int64_t>(bytes);
        if (m_tokens < 0)
        {
            uint64_t debt = static_cast<uint64_t>(-m_tokens);
            uint64_t ms = (debt * 1000 + m_rate - 1) / m_rate;
            wait = ms > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
        }
    }
    // Another transfer that comes later finds the debt this one left and waits longer: together
    // they keep to the rate.
    if (wait == 0)
        return running.load(std::memory_order_acquire);
    return m_clock->Sleep(wait, running);
}
