#include "install/io_interface_pak.h"

#include "install/io_interface_c.h"

#include <algorithm>

struct CKrIOInterfacePak::PakHandle
{
    bool ownsInner = false;
    bool writing = false;
    Entry entry;
    void* inner = nullptr;
};

namespace {

std::string Lower(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string OpenKey(const std::string& name)
{
    std::string key = name;
    std::replace(key.begin(), key.end(), '/', '\\');
    return Lower(key);
}

} // namespace

CKrIOInterfacePak::CKrIOInterfacePak(CKrIOInterface* inner, const std::string& packagePath)
    : m_inner(inner ? inner : CKrIOInterfaceC::Instance()), m_packagePath(packagePath)
{
}

CKrIOInterfacePak::~CKrIOInterfacePak()
{
    if (m_spare)
        m_inner->Close(m_spare);
}

bool CKrIOInterfacePak::AddEntry(const std::string& name, int offset, int size)
{
    if (offset < 0 || size < 0)
        return false;
    std::string key = Lower(name);
    if (m_index.count(key))
        return false;
    m_index[key] = m_entries.size();
    m_entries.push_back(Entry{offset, size});
    return true;
}

const CKrIOInterfacePak::Entry* CKrIOInterfacePak::Find(const std::string& key) const
{
    auto it = m_index.find(key);
    return it == m_index.end() ? nullptr : &m_entries[it->second];
}

void* CKrIOInterfacePak::OpenEntry(const std::string& path, bool forceNew)
{
    const Entry* entry = Find(OpenKey(path));
    if (!entry)
        return nullptr;
    auto* handle = new PakHandle;
    handle->entry = *entry;
    if (!forceNew && m_spare)
    {
        handle->inner = m_spare;
        m_spare = nullptr;
    }
    else
    {
        handle->inner = m_inner->Open(m_packagePath, "rb");
        handle->ownsInner = true;
    }
    if (!handle->inner || m_inner->Seek(handle->inner, entry->offset, 0) != 0)
    {
        if (handle->inner && handle->ownsInner)
            m_inner->Close(handle->inner);
        else if (handle->inner)
            m_spare = handle->inner;
        delete handle;
        return nullptr;
    }
    return handle;
}

void* CKrIOInterfacePak::Open(const std::string& path, const char* mode)
{
    if (mode && mode[0] == 'w')
    {
        void* inner = m_inner->Open(path, mode);
        if (!inner)
            return nullptr;
        auto* handle = new PakHandle;
        handle->ownsInner = true;
        handle->writing = true;
        handle->inner = inner;
        return handle;
    }
    return OpenEntry(path, false);
}

void* CKrIOInterfacePak::OpenNew(const std::string& path, const char*)
{
    return OpenEntry(path, true);
}

int CKrIOInterfacePak::Close(void* h)
{
    if (!h)
        return -1;
    auto* handle = static_cast<PakHandle*>(h);
    int result = 0;
    // One read handle of the package is kept open for the next entry.
    if (!handle->writing && !m_spare)
        m_spare = handle->inner;
    else
        result = m_inner->Close(handle->inner);
    delete handle;
    return result;
}

int CKrIOInterfacePak::Read(void* buffer, int elementSize, int count, void* h)
{
    if (!h || elementSize <= 0 || count <= 0)
        return 0;
    auto* handle = static_cast<PakHandle*>(h);
    if (!handle->writing)
    {
        int position = m_inner->Tell(handle->inner) - handle->entry.offset;
        int remaining = position < handle->entry.size ? handle->entry.size - std::max(position, 0) : 0;
        count = std::min(count, remaining / elementSize);
        if (count == 0)
            return 0;
    }
    return m_inner->Read(buffer, elementSize, count, handle->inner);
}

int CKrIOInterfacePak::Write(const void* buffer, int elementSize, int count, void* h)
{
    if (!h)
        return 0;
    return m_inner->Write(buffer, elementSize, count, static_cast<PakHandle*>(h)->inner);
}

int CKrIOInterfacePak::Tell(void* h)
{
    if (!h)
        return -1;
    auto* handle = static_cast<PakHandle*>(h);
    int position = m_inner->Tell(handle->inner);
    return handle->writing ? position : position - handle->entry.offset;
}

int CKrIOInterfacePak::Seek(void* h, int offset, int origin)
{
    if (!h)
        return -1;
    auto* handle = static_cast<PakHandle*>(h);
    if (handle->writing)
        return m_inner->Seek(handle->inner, offset, origin);
    int64_t from = 0;
    if (origin == 1)
        from = Tell(h);
    else if (origin == 2)
        from = handle->entry.size;
    else if (origin != 0)
        return -1;
    int64_t target = from + offset;
    // Positions outside the entry would expose its neighbours.
    if (target < 0 || target > handle->entry.size)
        return -1;
    return m_inner->Seek(handle->inner, static_cast<int>(handle->entry.offset + target), 0);
}

bool CKrIOInterfacePak::IsEof(void* h)
{
    if (!h)
        return true;
    auto* handle = static_cast<PakHandle*>(h);
    if (!handle->writing && Tell(h) >= handle->entry.size)
        return true;
    return m_inner->IsEof(handle->inner);
}

int CKrIOInterfacePak::GetSize(void* h)
{
    if (!h)
        return 0;
    auto* handle = static_cast<PakHandle*>(h);
    return handle->writing ? m_inner->GetSize(handle->inner) : handle->entry.size;
}

int CKrIOInterfacePak::GetEntrySize(const std::string& name)
{
    const Entry* entry = Find(Lower(name));
    return entry ? entry->size : -1;
}

int CKrIOInterfacePak::GetEntryOffset(const std::string& name)
{
    const Entry* entry = Find(Lower(name));
    return entry ? entry->offset : -1;
}

int CKrIOInterfacePak::GetHandleOffset(void* h)
{
    if (!h)
        return 0;
    auto* handle = static_cast<PakHandle*>(h);
    return handle->writing ? 0 : handle->entry.offset;
}
