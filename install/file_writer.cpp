#include "install/file_writer.h"

#include <cstring>

namespace
{

// Smaller zero blocks are written: a hole saves nothing there.
constexpr std::size_t kMinHole = 4096;

} // namespace

bool CKrFileWriter::IsAllZero(const void* data, std::size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    return size > 0 && p[0] == 0 && std::memcmp(p, p + 1, size - 1) == 0;
}

bool CKrFileWriter::Create(const std::string& path)
{
    Close();
    m_file = kr::os::OpenUniqueFile(path, "wb");
    m_position = m_oldEnd = 0;
    m_holePending = m_failed = false;
    return m_file != nullptr;
}

bool CKrFileWriter::OpenAt(const std::string& path, uint64_t offset)
{
    Close();
    uint64_t size = 0;
    if (!kr::os::GetFileSize(path, &size) || offset > size)
        return false;
    m_file = kr::os::OpenUniqueFile(path, "r+b");
    if (!m_file)
        return false;
    if (kr::os::SeekFile64(m_file.get(), static_cast<int64_t>(offset), SEEK_SET) != 0)
    {
        m_file.reset();
        return false;
    }
    m_position = offset;
    m_oldEnd = size;
    m_holePending = m_failed = false;
    return true;
}

bool CKrFileWriter::Materialize()
{
    if (!m_holePending)
        return true;
    m_holePending = false;
    return kr::os::SeekFile64(m_file.get(), static_cast<int64_t>(m_position), SEEK_SET) == 0;
}

bool CKrFileWriter::Write(const void* data, std::size_t size)
{
    if (!m_file || m_failed)
        return false;
    if (size == 0)
        return true;
    if (m_position >= m_oldEnd && size >= kMinHole && IsAllZero(data, size))
    {
        m_position += size;
        m_holePending = true;
        return true;
    }
    if (!Materialize() || std::fwrite(data, size, 1, m_file.get()) != 1)
    {
        m_failed = true;
        return false;
    }
    m_position += size;
    return true;
}

bool CKrFileWriter::Close()
{
    if (!m_file)
        return false;
    bool ok = !m_failed;
    if (ok && m_holePending)
    {
        // The file ends in a hole: its last byte, written, gives it its length.
        m_position -= 1;
        m_holePending = true;
        const char zero = 0;
        ok = Materialize() && std::fwrite(&zero, 1, 1, m_file.get()) == 1;
        m_position += 1;
    }
    ok = kr::os::CloseUniqueFile(m_file) && ok;
    m_failed = false;
    return ok;
}
