#include "platform/threads.h"

#include <windows.h>

#include <mmsystem.h>

namespace kr::os {
namespace {

struct StartBlock
{
    ThreadProc proc;
    void* context;
};

DWORD WINAPI Trampoline(LPVOID arg)
{
    StartBlock block = *static_cast<StartBlock*>(arg);
    delete static_cast<StartBlock*>(arg);
    return block.proc(block.context);
}

} // namespace

ThreadHandle StartThread(ThreadProc proc, void* context, std::size_t stackReserve, uint32_t* threadId)
{
    auto* block = new StartBlock{proc, context};
    DWORD id = 0;
    HANDLE h = CreateThread(nullptr, stackReserve, Trampoline, block, STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
    if (!h)
    {
        delete block;
        return {};
    }
    if (threadId)
        *threadId = id;
    return ThreadHandle{h};
}

void CloseThread(ThreadHandle& handle)
{
    if (handle.native)
        CloseHandle(static_cast<HANDLE>(handle.native));
    handle.native = nullptr;
}

void JoinThread(ThreadHandle& handle)
{
    if (!handle.native)
        return;
    WaitForSingleObject(static_cast<HANDLE>(handle.native), INFINITE);
    CloseThread(handle);
}

bool SetThreadPriorityValue(const ThreadHandle& handle, int priority)
{
    return handle.native && SetThreadPriority(static_cast<HANDLE>(handle.native), priority) != FALSE;
}

bool GetThreadPriorityValue(const ThreadHandle& handle, int* priority)
{
    if (!handle.native)
        return false;
    int value = GetThreadPriority(static_cast<HANDLE>(handle.native));
    if (value == THREAD_PRIORITY_ERROR_RETURN)
        return false;
    *priority = value;
    return true;
}

void SleepMs(uint32_t milliseconds)
{
    Sleep(milliseconds);
}

uint64_t PerformanceFrequency()
{
    LARGE_INTEGER f;
    return QueryPerformanceFrequency(&f) ? static_cast<uint64_t>(f.QuadPart) : 0;
}

uint64_t PerformanceCounter()
{
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<uint64_t>(c.QuadPart);
}

uint32_t TickCountMs()
{
    return timeGetTime();
}

NativeMutex::NativeMutex() : m_impl(new CRITICAL_SECTION)
{
    InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl));
}

NativeMutex::~NativeMutex()
{
    DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl));
    delete static_cast<CRITICAL_SECTION*>(m_impl);
}

void NativeMutex::Lock()
{
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl));
}

void NativeMutex::Unlock()
{
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl));
}

} // namespace kr::os
