#pragma once
#include "platform/threads.h"

#include <memory>

// A non-recursive lock whose platform object lives on the heap for the lifetime of the mutex.
class CKrMutex
{
public:
    CKrMutex() : m_native(std::make_unique<kr::os::NativeMutex>()) {}
    virtual ~CKrMutex() = default;
    CKrMutex(const CKrMutex&) = delete;
    CKrMutex& operator=(const CKrMutex&) = delete;

    void Lock()
    {
        if (m_native)
            m_native->Lock();
    }
    void Unlock()
    {
        if (m_native)
            m_native->Unlock();
    }

private:
    std::unique_ptr<kr::os::NativeMutex> m_native;
};

class CKrScopedLock
{
public:
    explicit CKrScopedLock(CKrMutex* mutex) : m_mutex(mutex) { m_mutex->Lock(); }
    explicit CKrScopedLock(CKrMutex& mutex) : CKrScopedLock(&mutex) {}
    ~CKrScopedLock() { m_mutex->Unlock(); }
    CKrScopedLock(const CKrScopedLock&) = delete;
    CKrScopedLock& operator=(const CKrScopedLock&) = delete;

private:
    CKrMutex* m_mutex;
};
