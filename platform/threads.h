#pragma once
// Operating-system seam: threads, locks, sleeping and clocks.
#include <cstddef>
#include <cstdint>

namespace kr::os {

using ThreadProc = unsigned (*)(void* context);

struct ThreadHandle
{
    void* native = nullptr; // HANDLE on Windows, heap pthread_t on POSIX
    explicit operator bool() const { return native != nullptr; }
};

// Starts `proc(context)` on a new thread with `stackReserve` bytes of stack requested as a
// reservation. Returns a null handle when the thread could not be created.
ThreadHandle StartThread(ThreadProc proc, void* context, std::size_t stackReserve, uint32_t* threadId);
// Releases the handle; the thread itself keeps running until its procedure returns.
void CloseThread(ThreadHandle& handle);
// Waits until the thread's procedure has returned.
void JoinThread(ThreadHandle& handle);

// Platform priority value (-2 lowest .. 2 highest, 0 normal) of a running thread.
bool SetThreadPriorityValue(const ThreadHandle& handle, int priority);
bool GetThreadPriorityValue(const ThreadHandle& handle, int* priority);

void SleepMs(uint32_t milliseconds);

// High-resolution counter; frequency 0 means there is none.
uint64_t PerformanceFrequency();
uint64_t PerformanceCounter();
// Coarse millisecond tick count, wrapping at 32 bits.
uint32_t TickCountMs();

// A non-recursive lock.
class NativeMutex
{
public:
    NativeMutex();
    ~NativeMutex();
    NativeMutex(const NativeMutex&) = delete;
    NativeMutex& operator=(const NativeMutex&) = delete;
    void Lock();
    void Unlock();

private:
    void* m_impl;
};

} // namespace kr::os
