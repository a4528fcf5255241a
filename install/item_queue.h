#pragma once
// One queue of the engine's items (fresh install, update downloads, extraction), with the one way to
// take an item, put one back after a failure, and wait for a retry time. Items are owned elsewhere;
// the queue holds plain pointers under its own lock.
#include "services/mutex.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>

struct InstallItem;

class CKrItemQueue
{
public:
    void Push(InstallItem* item);
    // Back into the queue, to be taken again no earlier than `notBeforeMs`.
    void Requeue(InstallItem* item, uint64_t notBeforeMs);
    // The first item in order that is due at `nowMs` and that `accept` takes (all when empty); it
    // leaves the queue. Null when there is none.
    InstallItem* Take(uint64_t nowMs, const std::function<bool(const InstallItem&)>& accept = nullptr);
    void Clear();
    // Items ready and waiting together.
    size_t Size();
    bool Empty() { return Size() == 0; }
    // Items in order (for queueing checks); the waiting ones are not included.
    template <typename F> void ForEachReady(F f)
    {
        CKrScopedLock lock(m_mutex);
        for (InstallItem* item : m_ready)
            f(*item);
    }
    template <typename Less> void Sort(Less less);

private:
    void Release(uint64_t nowMs);

    CKrMutex m_mutex;
    std::deque<InstallItem*> m_ready;
    std::multimap<uint64_t, InstallItem*> m_waiting; // by retry time
};

template <typename Less> void CKrItemQueue::Sort(Less less)
{
    CKrScopedLock lock(m_mutex);
    std::stable_sort(m_ready.begin(), m_ready.end(), less);
}
