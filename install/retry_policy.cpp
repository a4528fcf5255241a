#include "install/retry_policy.h"

#include "platform/threads.h"

CKrBackoff::CKrBackoff(uint32_t firstMs, uint32_t capMs, uint64_t seed)
{
    Configure(firstMs, capMs, seed);
}

void CKrBackoff::Configure(uint32_t firstMs, uint32_t capMs, uint64_t seed)
{
    CKrScopedLock lock(m_mutex);
    m_firstMs = firstMs;
    m_capMs = capMs < firstMs ? firstMs : capMs;
    if (seed == 0)
        seed = kr::os::PerformanceCounter() ^ (static_cast<uint64_t>(kr::os::TickCountMs()) << 32);
    m_state = seed ? seed : 0x9E3779B97F4A7C15ull;
}

uint32_t CKrBackoff::Ceiling(uint32_t failures) const
{
    if (failures == 0)
        return 0;
    uint64_t base = m_firstMs;
    for (uint32_t i = 1; i < failures && base < m_capMs; ++i)
        base *= 2;
    return static_cast<uint32_t>(base < m_capMs ? base : m_capMs);
}

uint64_t CKrBackoff::Next()
{
    // xorshift64*: plenty for spreading retries.
    m_state ^= m_state >> 12;
    m_state ^= m_state << 25;
    m_state ^= m_state >> 27;
    return m_state * 0x2545F4914F6CDD1Dull;
}

uint32_t CKrBackoff::Delay(uint32_t failures)
{
    uint32_t base = Ceiling(failures);
    if (base == 0)
        return 0;
    CKrScopedLock lock(m_mutex);
    uint32_t half = base / 2;
    return half + static_cast<uint32_t>(Next() % (base - half + 1));
}
