#pragma once
#include "install/io_interface.h"

#include <cstdint>

// Header of a memory block; the data follows in the same 64-byte aligned allocation, then one
// zero byte.
struct KrMemBlock
{
    uint8_t* base;
    uint8_t* current;
    uint32_t size;
    uint32_t written; // highest position written, relative to base
    uint32_t writing; // GetSize reports written instead of size
    uint32_t dryRun;  // Read and Write only move current
};

// Memory blocks made by CKrFile::LoadToMemory or CreateBlock. Read and Write return byte counts and
// are clamped to the block: they never touch memory outside it and report what they moved. Seek
// outside 0..size is refused with -1 and leaves the position alone.
class CKrIOInterfaceMem : public CKrIOInterface
{
public:
    static CKrIOInterfaceMem* Instance();

    // A zero-filled block of `size` bytes; null when it cannot be allocated.
    static KrMemBlock* CreateBlock(uint32_t size, bool writing);
    static void FreeBlock(KrMemBlock* block);

    // Always null: blocks are made by CreateBlock / CKrFile::LoadToMemory.
    void* Open(const std::string& path, const char* mode) override;
    void* OpenNew(const std::string& path, const char* mode) override;
    int Close(void* handle) override;
    int Read(void* buffer, int elementSize, int count, void* handle) override;
    int Write(const void* buffer, int elementSize, int count, void* handle) override;
    int Tell(void* handle) override;
    int Seek(void* handle, int offset, int origin) override;
    bool IsEof(void* handle) override;
    int GetSize(void* handle) override;
    void* GetCurrentPointer(void* handle) override;
    void* GetBasePointer(void* handle) override;
    int GetEntrySize(const std::string& name) override;
    int GetEntryOffset(const std::string& name) override;
};
