#include "services/thread.h"

CKrThread::~CKrThread()
{
    Close();
}

bool CKrThread::Start(kr::os::ThreadProc proc, void* context)
{
    if (m_handle)
        return false;
    m_handle = kr::os::StartThread(proc, context, kStackReserve, &m_threadId);
    return static_cast<bool>(m_handle);
}

bool PriorityForLevel(int level, int* platformPriority)
{
    if (level < 0 || level > 4)
        return false;
    *platformPriority = level - 2;
    return true;
}

void CKrThread::SetPriority()
{
    int value = 0;
    if (PriorityForLevel(priority, &value))
        kr::os::SetThreadPriorityValue(m_handle, value);
}

void CKrThread::Close()
{
    kr::os::CloseThread(m_handle);
}

void CKrThread::Join()
{
    kr::os::JoinThread(m_handle);
}

void CKrStopFlag::RaiseAndWait()
{
    Raise();
    while (IsRaised())
        kr::os::SleepMs(10);
}
