#pragma once
// Exchangeable byte-stream back ends of CKrFile. A handle is whatever Open returned; its meaning
// belongs to the interface that made it.
#include <cstdint>
#include <string>

class CKrIOInterface
{
public:
    virtual ~CKrIOInterface() = default;

    // fopen-style mode text; null on failure.
    virtual void* Open(const std::string& path, const char* mode) = 0;
    // An independent handle of the same path.
    virtual void* OpenNew(const std::string& path, const char* mode) = 0;
    virtual int Close(void* handle) = 0;
    virtual int Read(void* buffer, int elementSize, int count, void* handle) = 0;
    virtual int Write(const void* buffer, int elementSize, int count, void* handle) = 0;
    virtual int Tell(void* handle) = 0;
    // origin 0 from the start, 1 from the current position, 2 from the end; 0 on success.
    virtual int Seek(void* handle, int offset, int origin) = 0;
    virtual bool IsEof(void* handle) = 0;
    // Tell, Seek to the end, Tell, Seek back.
    virtual int GetSize(void* handle);
    // Memory interface only; null elsewhere.
    virtual void* GetCurrentPointer(void* handle);
    virtual void* GetBasePointer(void* handle);
    // Package interface only; 0 elsewhere.
    virtual int GetEntrySize(const std::string& name) = 0;
    virtual int GetEntryOffset(const std::string& name) = 0;
    virtual int GetHandleOffset(void* handle);
};
