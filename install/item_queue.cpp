#include "install/item_queue.h"

#include <algorithm>

void CKrItemQueue::Push(InstallItem* item)
{
    CKrScopedLock lock(m_mutex);
    m_ready.push_back(item);
}

void CKrItemQueue::Requeue(InstallItem* item, uint64_t notBeforeMs)
{
    CKrScopedLock lock(m_mutex);
    m_waiting.emplace(notBeforeMs, item);
}

void CKrItemQueue::Release(uint64_t nowMs)
{
    // Items whose time has come go to the back, in the order of their retry times.
    while (!m_waiting.empty() && m_waiting.begin()->first <= nowMs)
    {
        m_ready.push_back(m_waiting.begin()->second);
        m_waiting.erase(m_waiting.begin());
    }
}

InstallItem* CKrItemQueue::Take(uint64_t nowMs, const std::function<bool(const InstallItem&)>& accept)
{
    CKrScopedLock lock(m_mutex);
    Release(nowMs);
    for (auto it = m_ready.begin(); it != m_ready.end(); ++it)
    {
        if (accept && !accept(**it))
            continue;
        InstallItem* item = *it;
        m_ready.erase(it);
        return item;
    }
    return nullptr;
}

void CKrItemQueue::Clear()
{
    CKrScopedLock lock(m_mutex);
    m_ready.clear();
    m_waiting.clear();
}

size_t CKrItemQueue::Size()
{
    CKrScopedLock lock(m_mutex);
    return m_ready.size() + m_waiting.size();
}
