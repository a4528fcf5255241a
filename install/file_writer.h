#pragma once
// Writes one file from a stream of blocks (downloads, extraction). Owns its stream, so it is closed
// on every path. Blocks of zeros past the file's old end are not written but skipped, so that they
// become holes where the file system has them (large sparse test data costs neither time nor disk);
// the content read back is the same either way.
#include "platform/files.h"

#include <cstddef>
#include <cstdint>
#include <string>

class CKrFileWriter
{
public:
    CKrFileWriter() = default;
    ~CKrFileWriter() { Close(); }
    CKrFileWriter(const CKrFileWriter&) = delete;
    CKrFileWriter& operator=(const CKrFileWriter&) = delete;

    // A new, empty file ("wb").
    bool Create(const std::string& path);
    // An existing file, written from `offset` on (which may not lie past its end).
    bool OpenAt(const std::string& path, uint64_t offset);
    bool IsOpen() const { return m_file != nullptr; }
    bool Write(const void* data, std::size_t size);
    // Flushes and closes; false when any write or the close failed (a full disk shows here).
    bool Close();
    uint64_t Position() const { return m_position; }

    static bool IsAllZero(const void* data, std::size_t size);

private:
    bool Materialize();

    kr::os::UniqueFile m_file;
    uint64_t m_position = 0;
    uint64_t m_oldEnd = 0;    // holes only past this point
    bool m_holePending = false; // m_position lies past what was written
    bool m_failed = false;
};
