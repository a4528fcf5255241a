#pragma once
// When the engine tries a failed transfer or extraction again: a capped exponential back-off with
// jitter, and the limit for faults that repeat on the same bytes.
//
//   failure n (1, 2, ...) waits a random time in [base / 2, base], base = min(cap, first * 2^(n-1))
//
// Transient faults (no answer, a cut transfer, 5xx, a full disk) are retried this way for as long as
// the run lasts: the network or the disk may come back. Faults that repeat (404 for a file of the
// list, a package that does not extract) end after kMaxRepeats attempts.
#include "services/mutex.h"

#include <cstdint>

class CKrBackoff
{
public:
    static constexpr uint32_t kMaxRepeats = 3;

    // seed 0 picks one from the clock.
    CKrBackoff(uint32_t firstMs = 1000, uint32_t capMs = 60000, uint64_t seed = 0);
    void Configure(uint32_t firstMs, uint32_t capMs, uint64_t seed);

    // Wait before the next attempt after `failures` failures (1 or more). Thread-safe.
    uint32_t Delay(uint32_t failures);
    // The upper end of Delay for that many failures (for tests and documentation).
    uint32_t Ceiling(uint32_t failures) const;

private:
    uint64_t Next();

    uint32_t m_firstMs;
    uint32_t m_capMs;
    uint64_t m_state;
    CKrMutex m_mutex;
};
