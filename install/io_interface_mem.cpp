#include "install/io_interface_mem.h"

#include <cstring>
#include <new>

namespace {

constexpr size_t kHeaderSize = 64;
static_assert(sizeof(KrMemBlock) <= kHeaderSize, "the block header must fit its 64 bytes");

KrMemBlock* AsBlock(void* handle)
{
    return static_cast<KrMemBlock*>(handle);
}

uint32_t Position(const KrMemBlock* block)
{
    return static_cast<uint32_t>(block->current - block->base);
}

// Bytes a transfer of elementSize x count may move from the current position: never past the end.
uint32_t Clamp(const KrMemBlock* block, int elementSize, int count)
{
    if (elementSize <= 0 || count <= 0)
        return 0;
    uint64_t wanted = static_cast<uint64_t>(elementSize) * static_cast<uint64_t>(count);
    uint32_t position = Position(block);
    uint32_t available = position < block->size ? block->size - position : 0;
    return wanted < available ? static_cast<uint32_t>(wanted) : available;
}

} // namespace

CKrIOInterfaceMem* CKrIOInterfaceMem::Instance()
{
    static CKrIOInterfaceMem instance;
    return &instance;
}

KrMemBlock* CKrIOInterfaceMem::CreateBlock(uint32_t size, bool writing)
{
    size_t total = kHeaderSize + static_cast<size_t>(size) + 1;
    void* memory = ::operator new(total, std::align_val_t(64), std::nothrow);
    if (!memory)
        return nullptr;
    std::memset(memory, 0, total);
    auto* block = static_cast<KrMemBlock*>(memory);
    block->base = static_cast<uint8_t*>(memory) + kHeaderSize;
    block->current = block->base;
    block->size = size;
    block->written = 0;
    block->writing = writing ? 1 : 0;
    block->dryRun = 0;
    return block;
}

void CKrIOInterfaceMem::FreeBlock(KrMemBlock* block)
{
    if (block)
        ::operator delete(static_cast<void*>(block), std::align_val_t(64));
}

void* CKrIOInterfaceMem::Open(const std::string&, const char*)
{
    return nullptr;
}

void* CKrIOInterfaceMem::OpenNew(const std::string& path, const char* mode)
{
    return Open(path, mode);
}

int CKrIOInterfaceMem::Close(void* handle)
{
    FreeBlock(AsBlock(handle));
    return 0;
}

int CKrIOInterfaceMem::Read(void* buffer, int elementSize, int count, void* handle)
{
    if (!handle)
        return 0;
    KrMemBlock* block = AsBlock(handle);
    uint32_t n = Clamp(block, elementSize, count);
    if (!block->dryRun && n)
        std::memcpy(buffer, block->current, n);
    block->current += n;
    return static_cast<int>(n);
}

int CKrIOInterfaceMem::Write(const void* buffer, int elementSize, int count, void* handle)
{
    if (!handle)
        return 0;
    KrMemBlock* block = AsBlock(handle);
    uint32_t n = Clamp(block, elementSize, count);
    if (!block->dryRun && n)
        std::memcpy(block->current, buffer, n);
    block->current += n;
    if (Position(block) > block->written)
        block->written = Position(block);
    return static_cast<int>(n);
}

int CKrIOInterfaceMem::Tell(void* handle)
{
    return handle ? static_cast<int>(Position(AsBlock(handle))) : -1;
}

int CKrIOInterfaceMem::Seek(void* handle, int offset, int origin)
{
    if (!handle)
        return -1;
    KrMemBlock* block = AsBlock(handle);
    int64_t from = 0;
    if (origin == 1)
        from = Position(block);
    else if (origin == 2)
        from = block->size;
    else if (origin != 0)
        return -1;
    int64_t target = from + offset;
    if (target < 0 || target > static_cast<int64_t>(block->size))
        return -1;
    block->current = block->base + target;
    return 0;
}

bool CKrIOInterfaceMem::IsEof(void* handle)
{
    return !handle || Position(AsBlock(handle)) >= AsBlock(handle)->size;
}

int CKrIOInterfaceMem::GetSize(void* handle)
{
    if (!handle)
        return 0;
    KrMemBlock* block = AsBlock(handle);
    return static_cast<int>(block->writing ? block->written : block->size);
}

void* CKrIOInterfaceMem::GetCurrentPointer(void* handle)
{
    return handle ? AsBlock(handle)->current : nullptr;
}

void* CKrIOInterfaceMem::GetBasePointer(void* handle)
{
    return handle ? AsBlock(handle)->base : nullptr;
}

int CKrIOInterfaceMem::GetEntrySize(const std::string&)
{
    return 0;
}

int CKrIOInterfaceMem::GetEntryOffset(const std::string&)
{
    return 0;
}
