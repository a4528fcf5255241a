#pragma once
// Operating-system seam: files and directories. Names avoid the Win32 macros (DeleteFile,
// CreateDirectory, RemoveDirectory) so that this header mixes with <windows.h>.
//
// Paths are given in the product's own form (backslashes, "Data\\"); the POSIX implementation maps
// "\\" to "/" wherever it touches the file system. Times are FILETIME values: 100 ns units since
// 1601-01-01 UTC, as one 64-bit integer.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kr::os {

// The DOS/Win32 attribute bits this system looks at.
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;

struct FileInfo
{
    std::string name;       // bare name (listing) or the path asked for (GetFileInfo)
    uint64_t size = 0;      // 0 for directories
    uint32_t attributes = 0;
    uint64_t creation = 0;  // best effort on POSIX
    uint64_t lastAccess = 0;
    uint64_t lastWrite = 0;
};

// The path as the platform's file functions want it ("\\" -> "/" on POSIX, unchanged on Windows).
std::string NativePath(const std::string& path);

// Every entry of `dir` (which may or may not end in a separator), "." and ".." included, in the
// order the platform lists them. False when the directory cannot be listed.
// POSIX: directories carry exactly kAttrDirectory, other files kAttrArchive (plus kAttrReadOnly
// when the owner cannot write them); symbolic links are followed.
bool ListDirectory(const std::string& dir, std::vector<FileInfo>& entries);

// Size, attributes and times of one file or directory; false when it does not exist.
bool GetFileInfo(const std::string& path, FileInfo& info);
bool IsDirectory(const std::string& path);
bool GetFileSize(const std::string& path, uint64_t* size);

// Null pointers leave that time as it is. POSIX cannot set the creation time and ignores it.
bool GetFileTimes(const std::string& path, uint64_t* creation, uint64_t* lastAccess, uint64_t* lastWrite);
bool SetFileTimes(const std::string& path, const uint64_t* creation, const uint64_t* lastAccess,
                  const uint64_t* lastWrite);

// fopen with the path mapped; null on failure.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Owns a FILE stream: closed when the holder goes, on every path.
struct FileCloser
{
    void operator()(std::FILE* file) const
    {
        if (file)
            std::fclose(file);
    }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;
inline UniqueFile OpenUniqueFile(const std::string& path, const char* mode)
{
    return UniqueFile(OpenFile(path, mode));
}
// fclose of the held stream; false when it failed (a full disk often shows only here).
inline bool CloseUniqueFile(UniqueFile& file)
{
    std::FILE* raw = file.release();
    return raw && std::fclose(raw) == 0;
}
// 64-bit positions of a FILE stream (fseeko/_fseeki64).
int SeekFile64(std::FILE* file, int64_t offset, int origin);
int64_t TellFile64(std::FILE* file);

// Creates an empty file only when nothing of that name exists (CREATE_NEW); false otherwise.
bool CreateNewFile(const std::string& path);
// Never a directory.
bool RemoveFile(const std::string& path);
// Replaces `to` when it exists.
bool RenameFile(const std::string& from, const std::string& to);

// One level; true also when the directory already exists.
bool MakeDirectory(const std::string& path);
// Every missing level of `path`; true when it exists as a directory afterwards.
bool MakeDirectories(const std::string& path);
// Only an empty directory.
bool RemoveEmptyDirectory(const std::string& path);

// Older spellings. Inline on purpose: in a file that included <windows.h> first they take the
// macro's name (DeleteFileA, ...) consistently at definition and call, so nothing clashes at link.
inline bool DeleteFile(const std::string& path) { return RemoveFile(path); }
inline bool CreateDirectory(const std::string& path) { return MakeDirectory(path); }
inline bool CreateDirectories(const std::string& path) { return MakeDirectories(path); }
inline bool RemoveDirectory(const std::string& path) { return RemoveEmptyDirectory(path); }

// Local time (FILETIME of the wall clock) to UTC, with the bias the platform applies now.
uint64_t LocalFileTimeToUtc(uint64_t localTime);

} // namespace kr::os
