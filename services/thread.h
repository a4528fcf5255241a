#pragma once
#include "platform/threads.h"

#include <atomic>
#include <cstdint>

// Holder of one worker thread with a priority level 0..4 (2 normal). Owners start the thread only
// while the handle is null and stop it with the cooperative protocol of CKrStopFlag before the
// holder is destroyed; the destructor only releases the handle.
class CKrThread
{
public:
    static constexpr std::size_t kStackReserve = 4096;

    CKrThread() = default;
    virtual ~CKrThread();
    CKrThread(const CKrThread&) = delete;
    CKrThread& operator=(const CKrThread&) = delete;

    // Starts `proc(context)` when no thread is held; false when creation failed or one is running.
    bool Start(kr::os::ThreadProc proc, void* context);
    bool IsStarted() const { return static_cast<bool>(m_handle); }
    // Applies `priority` to the running thread; levels outside 0..4 change nothing.
    void SetPriority();
    void Close();
    // Waits for the procedure to return, then releases the handle.
    void Join();

    int priority = 2;
    uint32_t ThreadId() const { return m_threadId; }
    const kr::os::ThreadHandle& Handle() const { return m_handle; }

private:
    kr::os::ThreadHandle m_handle;
    uint32_t m_threadId = 0;
};

// Platform priority value of a level, or false for a level outside 0..4.
bool PriorityForLevel(int level, int* platformPriority);

// The stop byte of the cooperative protocol: the owner raises it and waits until the worker, having
// finished its final work, lowers it again.
class CKrStopFlag
{
public:
    bool IsRaised() const { return m_value.load(std::memory_order_acquire) != 0; }
    void Raise() { m_value.store(1, std::memory_order_release); }
    // The worker's last store: tells the owner that it is done.
    void Acknowledge() { m_value.store(0, std::memory_order_release); }
    // Raises the flag and sleeps in 10 ms steps until the worker acknowledges.
    void RaiseAndWait();

private:
    std::atomic<uint8_t> m_value{0};
};
