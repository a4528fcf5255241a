#pragma once
#include "install/io_interface.h"

// Standard I/O streams; the handle is a FILE*. Paths go through the OS seam's mapping.
class CKrIOInterfaceC : public CKrIOInterface
{
public:
    // The one shared instance, the default interface of every CKrFile.
    static CKrIOInterfaceC* Instance();

    void* Open(const std::string& path, const char* mode) override;
    void* OpenNew(const std::string& path, const char* mode) override;
    int Close(void* handle) override;
    // Element counts, as fread and fwrite return them.
    int Read(void* buffer, int elementSize, int count, void* handle) override;
    int Write(const void* buffer, int elementSize, int count, void* handle) override;
    int Tell(void* handle) override;
    int Seek(void* handle, int offset, int origin) override;
    bool IsEof(void* handle) override;
    int GetEntrySize(const std::string& name) override;
    int GetEntryOffset(const std::string& name) override;
};
