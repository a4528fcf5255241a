#include "install/io_interface_c.h"

#include "platform/files.h"

#include <cstdio>

namespace {

std::FILE* AsFile(void* handle)
{
    return static_cast<std::FILE*>(handle);
}

} // namespace

CKrIOInterfaceC* CKrIOInterfaceC::Instance()
{
    static CKrIOInterfaceC instance;
    return &instance;
}

void* CKrIOInterfaceC::Open(const std::string& path, const char* mode)
{
    return kr::os::OpenFile(path, mode);
}

void* CKrIOInterfaceC::OpenNew(const std::string& path, const char* mode)
{
    return Open(path, mode);
}

int CKrIOInterfaceC::Close(void* handle)
{
    return handle ? std::fclose(AsFile(handle)) : -1;
}

int CKrIOInterfaceC::Read(void* buffer, int elementSize, int count, void* handle)
{
    if (!handle || elementSize <= 0 || count <= 0)
        return 0;
    return static_cast<int>(std::fread(buffer, static_cast<size_t>(elementSize), static_cast<size_t>(count), AsFile(handle)));
}

int CKrIOInterfaceC::Write(const void* buffer, int elementSize, int count, void* handle)
{
    if (!handle || elementSize <= 0 || count <= 0)
        return 0;
    return static_cast<int>(std::fwrite(buffer, static_cast<size_t>(elementSize), static_cast<size_t>(count), AsFile(handle)));
}

int CKrIOInterfaceC::Tell(void* handle)
{
    return handle ? static_cast<int>(std::ftell(AsFile(handle))) : -1;
}

int CKrIOInterfaceC::Seek(void* handle, int offset, int origin)
{
    return handle ? std::fseek(AsFile(handle), offset, origin) : -1;
}

bool CKrIOInterfaceC::IsEof(void* handle)
{
    return !handle || std::feof(AsFile(handle)) != 0;
}

int CKrIOInterfaceC::GetEntrySize(const std::string&)
{
    return 0;
}

int CKrIOInterfaceC::GetEntryOffset(const std::string&)
{
    return 0;
}
