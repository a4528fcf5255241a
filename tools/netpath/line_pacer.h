#pragma once
// Pacing of an emulated internet path: every byte is held back by a fixed one-way delay, then sent no
// faster than the token buckets that it crosses allow (one per connection, one for the shared line).
// Times are microseconds on any monotonic clock; nothing here reads a clock, so it is tested with
// plain numbers.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

class CKrTokenBucket
{
public:
    // bytesPerSecond 0 means unlimited. burst bounds what an idle bucket saves up.
    CKrTokenBucket(uint64_t bytesPerSecond, uint64_t burst);

    // Bytes that may be sent at nowUs.
    uint64_t Available(int64_t nowUs);
    void Consume(uint64_t bytes);
    // Microseconds from nowUs until at least `bytes` (capped at the burst) are available; 0 when now.
    int64_t WaitUs(int64_t nowUs, uint64_t bytes);
    bool Unlimited() const { return m_rate == 0; }

private:
    void Refill(int64_t nowUs);

    uint64_t m_rate;
    uint64_t m_burst;
    double m_tokens;
    int64_t m_lastUs = -1;
};

// One direction of a connection: bytes enter with their arrival time and leave once the delay has
// passed.
class CKrDelayLine
{
public:
    explicit CKrDelayLine(int64_t delayUs) : m_delayUs(delayUs) {}

    void Push(int64_t arrivalUs, const char* data, size_t size);
    // The bytes whose delay has passed at nowUs, in order, at most `limit`; they stay queued until
    // Pop says how many were sent.
    size_t Ready(int64_t nowUs, const char** data, size_t limit) const;
    void Pop(size_t sent);
    // When the front bytes become ready; -1 when empty.
    int64_t NextReadyUs() const;
    size_t Queued() const { return m_queued; }

private:
    struct Chunk
    {
        int64_t readyUs;
        std::vector<char> bytes;
        size_t offset;
    };
    int64_t m_delayUs;
    std::deque<Chunk> m_chunks;
    size_t m_queued = 0;
};
