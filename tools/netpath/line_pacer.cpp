#include "tools/netpath/line_pacer.h"

#include <algorithm>

CKrTokenBucket::CKrTokenBucket(uint64_t bytesPerSecond, uint64_t burst)
    : m_rate(bytesPerSecond), m_burst(std::max<uint64_t>(burst, 1)), m_tokens(static_cast<double>(m_burst))
{
}

void CKrTokenBucket::Refill(int64_t nowUs)
{
    if (m_lastUs >= 0 && nowUs > m_lastUs)
        m_tokens = std::min(static_cast<double>(m_burst),
                            m_tokens + static_cast<double>(m_rate) * static_cast<double>(nowUs - m_lastUs) / 1e6);
    if (nowUs > m_lastUs)
        m_lastUs = nowUs;
}

uint64_t CKrTokenBucket::Available(int64_t nowUs)
{
    if (Unlimited())
        return UINT64_MAX;
    Refill(nowUs);
    return m_tokens < 1 ? 0 : static_cast<uint64_t>(m_tokens);
}

void CKrTokenBucket::Consume(uint64_t bytes)
{
    if (!Unlimited())
        m_tokens -= static_cast<double>(bytes);
}

int64_t CKrTokenBucket::WaitUs(int64_t nowUs, uint64_t bytes)
{
    if (Unlimited())
        return 0;
    Refill(nowUs);
    const double want = static_cast<double>(std::min(bytes, m_burst));
    if (m_tokens >= want)
        return 0;
    return static_cast<int64_t>((want - m_tokens) * 1e6 / static_cast<double>(m_rate)) + 1;
}

void CKrDelayLine::Push(int64_t arrivalUs, const char* data, size_t size)
{
    if (size == 0)
        return;
    m_chunks.push_back(Chunk{arrivalUs + m_delayUs, std::vector<char>(data, data + size), 0});
    m_queued += size;
}

size_t CKrDelayLine::Ready(int64_t nowUs, const char** data, size_t limit) const
{
    if (m_chunks.empty() || m_chunks.front().readyUs > nowUs)
        return 0;
    const Chunk& front = m_chunks.front();
    *data = front.bytes.data() + front.offset;
    return std::min(limit, front.bytes.size() - front.offset);
}

void CKrDelayLine::Pop(size_t sent)
{
    while (sent > 0 && !m_chunks.empty())
    {
        Chunk& front = m_chunks.front();
        const size_t take = std::min(sent, front.bytes.size() - front.offset);
        front.offset += take;
        sent -= take;
        m_queued -= take;
        if (front.offset == front.bytes.size())
            m_chunks.pop_front();
    }
}

int64_t CKrDelayLine::NextReadyUs() const
{
    return m_chunks.empty() ? -1 : m_chunks.front().readyUs;
}
