#include "install/io_interface.h"

int CKrIOInterface::GetSize(void* handle)
{
    int saved = Tell(handle);
    Seek(handle, 0, 2);
    int size = Tell(handle);
    Seek(handle, saved, 0);
    return size;
}

void* CKrIOInterface::GetCurrentPointer(void*)
{
    return nullptr;
}

void* CKrIOInterface::GetBasePointer(void*)
{
    return nullptr;
}

int CKrIOInterface::GetHandleOffset(void*)
{
    return 0;
}
