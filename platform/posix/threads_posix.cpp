#include "platform/threads.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

namespace kr::os {
namespace {

struct PosixThread
{
    pthread_t thread{};
    ThreadProc proc = nullptr;
    void* context = nullptr;
    std::atomic<pid_t> tid{0};
    std::atomic<bool> tidReady{false};
};

void* Trampoline(void* arg)
{
    auto* t = static_cast<PosixThread*>(arg);
    ThreadProc proc = t->proc;
    void* context = t->context;
    t->tid.store(static_cast<pid_t>(syscall(SYS_gettid)));
    // After this store the block belongs to the owner, who may free it at close.
    t->tidReady.store(true, std::memory_order_release);
    proc(context);
    return nullptr;
}

pid_t WaitForTid(PosixThread* t)
{
    while (!t->tidReady.load(std::memory_order_acquire))
        sched_yield();
    return t->tid.load();
}

} // namespace

ThreadHandle StartThread(ThreadProc proc, void* context, std::size_t stackReserve, uint32_t* threadId)
{
    auto* t = new (std::nothrow) PosixThread;
    if (!t)
        return {};
    t->proc = proc;
    t->context = context;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    // A Windows stack reservation is a minimum; POSIX needs at least PTHREAD_STACK_MIN, so keep
    // the platform default unless more is asked for.
    if (stackReserve > 256 * 1024)
        pthread_attr_setstacksize(&attr, stackReserve);
    int rc = pthread_create(&t->thread, &attr, Trampoline, t);
    pthread_attr_destroy(&attr);
    if (rc != 0)
    {
        delete t;
        return {};
    }
    if (threadId)
        *threadId = static_cast<uint32_t>(WaitForTid(t));
    return ThreadHandle{t};
}

void CloseThread(ThreadHandle& handle)
{
    auto* t = static_cast<PosixThread*>(handle.native);
    if (!t)
        return;
    pthread_detach(t->thread);
    WaitForTid(t);
    delete t;
    handle.native = nullptr;
}

void JoinThread(ThreadHandle& handle)
{
    auto* t = static_cast<PosixThread*>(handle.native);
    if (!t)
        return;
    pthread_join(t->thread, nullptr);
    delete t;
    handle.native = nullptr;
}

bool SetThreadPriorityValue(const ThreadHandle& handle, int priority)
{
    auto* t = static_cast<PosixThread*>(handle.native);
    if (!t)
        return false;
    // Per-thread nice value: higher priority is a lower nice value (raising needs privileges).
    return setpriority(PRIO_PROCESS, static_cast<id_t>(WaitForTid(t)), -priority) == 0;
}

bool GetThreadPriorityValue(const ThreadHandle& handle, int* priority)
{
    auto* t = static_cast<PosixThread*>(handle.native);
    if (!t)
        return false;
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(WaitForTid(t)));
    if (nice == -1 && errno != 0)
        return false;
    *priority = -nice;
    return true;
}

void SleepMs(uint32_t milliseconds)
{
    timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR)
    {
    }
}

uint64_t PerformanceFrequency()
{
    return 1000000000ull;
}

uint64_t PerformanceCounter()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

uint32_t TickCountMs()
{
    return static_cast<uint32_t>(PerformanceCounter() / 1000000ull);
}

NativeMutex::NativeMutex() : m_impl(new pthread_mutex_t)
{
    pthread_mutex_init(static_cast<pthread_mutex_t*>(m_impl), nullptr);
}

NativeMutex::~NativeMutex()
{
    pthread_mutex_destroy(static_cast<pthread_mutex_t*>(m_impl));
    delete static_cast<pthread_mutex_t*>(m_impl);
}

void NativeMutex::Lock()
{
    pthread_mutex_lock(static_cast<pthread_mutex_t*>(m_impl));
}

void NativeMutex::Unlock()
{
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(m_impl));
}

} // namespace kr::os
