#include "install/file.h"

#include "install/io_interface_c.h"
#include "install/io_interface_mem.h"

#include <cstring>
#include <vector>

namespace {

uint32_t Swap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

constexpr uint32_t kMaxStringLength = 0xFFFFFF;

} // namespace

CKrFile::CKrFile() : m_io(CKrIOInterfaceC::Instance())
{
}

CKrFile::~CKrFile()
{
    Close();
}

void CKrFile::SetIOInterface(CKrIOInterface* io)
{
    if (!m_handle)
        m_io = io ? io : CKrIOInterfaceC::Instance();
}

bool CKrFile::Open(const std::string& path, const char* mode)
{
    Close();
    m_writeMode = mode && (std::strchr(mode, 'w') || std::strchr(mode, 'a'));
    m_fileName = path;
    m_handle = m_io->Open(path, mode ? mode : "rb");
    return m_handle != nullptr;
}

bool CKrFile::LoadToMemory(const std::string& path)
{
    Close();
    m_writeMode = false;
    m_fileName = path;
    void* file = m_io->Open(path, "rb");
    if (!file)
        return false;
    int size = m_io->GetSize(file);
    KrMemBlock* block = size >= 0 ? CKrIOInterfaceMem::CreateBlock(static_cast<uint32_t>(size), false) : nullptr;
    // Byte-sized elements: every interface then reports bytes.
    bool ok = block && m_io->Read(block->base, 1, size, file) == size;
    m_io->Close(file);
    if (!ok)
    {
        CKrIOInterfaceMem::FreeBlock(block);
        return false;
    }
    m_ioBeforeLoad = m_io;
    m_io = CKrIOInterfaceMem::Instance();
    m_handle = block;
    return true;
}

int CKrFile::Close()
{
    if (!m_handle)
        return 0;
    int result = m_io->Close(m_handle);
    m_handle = nullptr;
    // A memory block is gone with its handle; the next Open uses the file's own interface again.
    if (m_ioBeforeLoad)
    {
        m_io = m_ioBeforeLoad;
        m_ioBeforeLoad = nullptr;
    }
    return result;
}

bool CKrFile::SerializeInt32(uint32_t* values, int n)
{
    if (!m_handle || n < 0)
        return false;
    int bytes = n * 4;
    if (!m_writeMode)
    {
        if (m_io->Read(values, 1, bytes, m_handle) != bytes)
            return false;
        if (m_byteSwap)
            for (int i = 0; i < n; ++i)
                values[i] = Swap32(values[i]);
        return true;
    }
    if (!m_byteSwap)
        return m_io->Write(values, 1, bytes, m_handle) == bytes;
    std::vector<uint32_t> swapped(values, values + n);
    for (uint32_t& v : swapped)
        v = Swap32(v);
    return m_io->Write(swapped.data(), 1, bytes, m_handle) == bytes;
}

bool CKrFile::SerializeInt32(int32_t* values, int n)
{
    return SerializeInt32(reinterpret_cast<uint32_t*>(values), n);
}

bool CKrFile::SerializeBytes(void* buffer, int n)
{
    if (!m_handle || n < 0)
        return false;
    if (!m_writeMode)
        return m_io->Read(buffer, 1, n, m_handle) == n;
    if (m_io->Write(buffer, 1, n, m_handle) != n)
        return false;
    return WritePadding(static_cast<size_t>(n));
}

bool CKrFile::WritePadding(size_t length)
{
    if (!m_align4 || length % 4 == 0)
        return true;
    static const char zeros[4] = {0, 0, 0, 0};
    int pad = static_cast<int>(4 - length % 4);
    return m_io->Write(zeros, 1, pad, m_handle) == pad;
}

bool CKrFile::WriteString(const char* text, size_t length)
{
    if (length > kMaxStringLength)
        return false;
    uint32_t word = static_cast<uint32_t>(length);
    if (length == 0)
        return SerializeInt32(&word);
    if (!m_scramble)
    {
        return SerializeInt32(&word) &&
               m_io->Write(text, 1, static_cast<int>(length), m_handle) == static_cast<int>(length) &&
               WritePadding(length);
    }
    // Scrambled into a copy: the caller's text is never touched.
    uint8_t key = static_cast<uint8_t>((length & 15) + 1);
    word |= static_cast<uint32_t>(key) << 24;
    std::vector<char> stored(text, text + length);
    for (char& c : stored)
        c = static_cast<char>(static_cast<uint8_t>(c) - key);
    return SerializeInt32(&word) &&
           m_io->Write(stored.data(), 1, static_cast<int>(length), m_handle) == static_cast<int>(length) &&
           WritePadding(length);
}

bool CKrFile::ReadString(std::string& text, size_t maxLength)
{
    text.clear();
    uint32_t word = 0;
    if (!SerializeInt32(&word))
        return false;
    uint8_t key = 0;
    uint32_t length = word;
    if (word > kMaxStringLength)
    {
        key = static_cast<uint8_t>(word >> 24);
        length = word & kMaxStringLength;
    }
    if (length > maxLength)
        return false;
    text.resize(length);
    if (length && m_io->Read(&text[0], 1, static_cast<int>(length), m_handle) != static_cast<int>(length))
    {
        text.clear();
        return false;
    }
    for (char& c : text)
        c = static_cast<char>(static_cast<uint8_t>(c) + key);
    return true;
}

bool CKrFile::SerializeString(char* buffer, size_t bufferSize)
{
    if (!m_handle || !buffer)
        return false;
    if (m_writeMode)
        {
        const void* end = std::memchr(buffer, 0, bufferSize);
        size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - buffer) : bufferSize;
        return WriteString(buffer, length);
    }
    if (bufferSize == 0)
        return false;
    std::string text;
    bool ok = ReadString(text, bufferSize - 1);
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = 0;
    return ok;
}

bool CKrFile::SerializeString(std::string& text, size_t maxLength)
{
    if (!m_handle)
        return false;
    if (m_writeMode)
        return WriteString(text.data(), text.size());
    return ReadString(text, maxLength);
}

int CKrFile::Read(void* buffer, int elementSize, int count)
{
    return m_handle ? m_io->Read(buffer, elementSize, count, m_handle) : 0;
}

int CKrFile::Write(const void* buffer, int elementSize, int count)
{
    return m_handle ? m_io->Write(buffer, elementSize, count, m_handle) : 0;
}

int CKrFile::Tell()
{
    return m_handle ? m_io->Tell(m_handle) : 0;
}

int CKrFile::Seek(int offset, int origin)
{
    return m_handle ? m_io->Seek(m_handle, offset, origin) : -1;
}

bool CKrFile::IsEof()
{
    return m_handle ? m_io->IsEof(m_handle) : true;
}

int CKrFile::GetSize()
{
    return m_handle ? m_io->GetSize(m_handle) : 0;
}
