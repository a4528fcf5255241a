#include "platform/files.h"

#include <windows.h>

#include <cstdio>

namespace kr::os {

namespace {

uint64_t ToU64(const FILETIME& ft)
{
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME ToFileTime(uint64_t value)
{
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return ft;
}

void FillInfo(DWORD attributes, DWORD sizeHigh, DWORD sizeLow, const FILETIME& creation,
              const FILETIME& access, const FILETIME& write, FileInfo& info)
{
    bool dir = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.size = dir ? 0 : ((static_cast<uint64_t>(sizeHigh) << 32) | sizeLow);
    info.attributes = attributes;
    info.creation = ToU64(creation);
    info.lastAccess = ToU64(access);
    info.lastWrite = ToU64(write);
}

std::string WithoutTrailingSeparators(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && (p.back() == '\\' || p.back() == '/') && p[p.size() - 2] != ':')
        p.pop_back();
    return p;
}

} // namespace

std::string NativePath(const std::string& path)
{
    return path;
}

bool ListDirectory(const std::string& dir, std::vector<FileInfo>& entries)
{
    std::string pattern = dir;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/')
        pattern += '\\';
    pattern += "*";
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    do
    {
        FileInfo info;
        info.name = data.cFileName;
        FillInfo(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftCreationTime,
                 data.ftLastAccessTime, data.ftLastWriteTime, info);
        entries.push_back(std::move(info));
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return true;
}

bool GetFileInfo(const std::string& path, FileInfo& info)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(WithoutTrailingSeparators(path).c_str(), GetFileExInfoStandard, &data))
        return false;
    info.name = path;
    FillInfo(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftCreationTime,
             data.ftLastAccessTime, data.ftLastWriteTime, info);
    return true;
}

bool IsDirectory(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(WithoutTrailingSeparators(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool SetFileTimes(const std::string& path, const uint64_t* creation, const uint64_t* lastAccess,
                  const uint64_t* lastWrite)
{
    // FILE_FLAG_BACKUP_SEMANTICS lets directories be stamped too.
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME c, a, w;
    if (creation)
        c = ToFileTime(*creation);
    if (lastAccess)
        a = ToFileTime(*lastAccess);
    if (lastWrite)
        w = ToFileTime(*lastWrite);
    BOOL ok = SetFileTime(file, creation ? &c : nullptr, lastAccess ? &a : nullptr, lastWrite ? &w : nullptr);
    CloseHandle(file);
    return ok != FALSE;
}

std::FILE* OpenFile(const std::string& path, const char* mode)
{
    return std::fopen(path.c_str(), mode);
}

int SeekFile64(std::FILE* file, int64_t offset, int origin)
{
    return _fseeki64(file, offset, origin);
}

int64_t TellFile64(std::FILE* file)
{
    return _ftelli64(file);
}

bool CreateNewFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

bool RemoveFile(const std::string& path)
{
    return DeleteFileA(path.c_str()) != FALSE;
}

bool RenameFile(const std::string& from, const std::string& to)
{
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool MakeDirectory(const std::string& path)
{
    std::string p = WithoutTrailingSeparators(path);
    if (CreateDirectoryA(p.c_str(), nullptr))
        return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(p);
}

bool MakeDirectories(const std::string& path)
{
    std::string p = WithoutTrailingSeparators(path);
    if (p.empty())
        return false;
    if (IsDirectory(p))
        return true;
    // Skip the root part: "C:\", "\\server\share\" or a leading "\".
    size_t start = 0;
    if (p.size() >= 2 && p[1] == ':')
        start = 3;
    else if (p.size() >= 2 && (p[0] == '\\' || p[0] == '/') && (p[1] == '\\' || p[1] == '/'))
    {
        size_t server = p.find_first_of("\\/", 2);
        start = server == std::string::npos ? p.size() : p.find_first_of("\\/", server + 1);
        if (start == std::string::npos)
            start = p.size();
    }
    else
        start = 1;
    for (size_t pos = p.find_first_of("\\/", start); pos != std::string::npos;
         pos = p.find_first_of("\\/", pos + 1))
        CreateDirectoryA(p.substr(0, pos).c_str(), nullptr);
    CreateDirectoryA(p.c_str(), nullptr);
    return IsDirectory(p);
}

bool RemoveEmptyDirectory(const std::string& path)
{
    return RemoveDirectoryA(WithoutTrailingSeparators(path).c_str()) != FALSE;
}

uint64_t LocalFileTimeToUtc(uint64_t localTime)
{
    FILETIME local = ToFileTime(localTime);
    FILETIME utc;
    if (!LocalFileTimeToFileTime(&local, &utc))
        return localTime;
    return ToU64(utc);
}

} // namespace kr::os
