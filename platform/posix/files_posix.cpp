#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace kr::os {

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDelta = 11644473600ULL;

uint64_t ToFileTime(const timespec& ts)
{
    if (ts.tv_sec < -static_cast<int64_t>(kEpochDelta))
        return 0;
    return (static_cast<uint64_t>(ts.tv_sec + static_cast<int64_t>(kEpochDelta))) * 10000000ULL +
           static_cast<uint64_t>(ts.tv_nsec) / 100;
}

timespec ToTimespec(uint64_t fileTime)
{
    timespec ts{};
    int64_t seconds = static_cast<int64_t>(fileTime / 10000000ULL) - static_cast<int64_t>(kEpochDelta);
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((fileTime % 10000000ULL) * 100);
    return ts;
}

void FillInfo(const struct stat& st, FileInfo& info)
{
    bool dir = S_ISDIR(st.st_mode);
    info.size = dir ? 0 : static_cast<uint64_t>(st.st_size);
    info.attributes = dir ? kAttrDirectory : kAttrArchive;
    if (!dir && !(st.st_mode & S_IWUSR))
        info.attributes |= kAttrReadOnly;
    info.lastWrite = ToFileTime(st.st_mtim);
    info.lastAccess = ToFileTime(st.st_atim);
    // No portable birth time; the status-change time is the nearest stand-in.
    info.creation = ToFileTime(st.st_ctim);
}

} // namespace

std::string NativePath(const std::string& path)
{
    std::string native = path;
    for (char& c : native)
        if (c == '\\')
            c = '/';
    return native;
}

bool ListDirectory(const std::string& dir, std::vector<FileInfo>& entries)
{
    std::string base = NativePath(dir);
    if (base.empty())
        base = ".";
    if (base.back() != '/')
        base += '/';
    DIR* handle = opendir(base.c_str());
    if (!handle)
        return false;
    int dirFd = dirfd(handle);
    while (dirent* entry = readdir(handle))
    {
        FileInfo info;
        info.name = entry->d_name;
        struct stat st;
        if (fstatat(dirFd, entry->d_name, &st, 0) == 0)
            FillInfo(st, info);
        else
            info.attributes = kAttrArchive; // a dangling link: listed, empty
        entries.push_back(std::move(info));
    }
    closedir(handle);
    return true;
}

bool GetFileInfo(const std::string& path, FileInfo& info)
{
    struct stat st;
    if (stat(NativePath(path).c_str(), &st) != 0)
        return false;
    info.name = path;
    FillInfo(st, info);
    return true;
}

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SetFileTimes(const std::string& path, const uint64_t* /*creation*/, const uint64_t* lastAccess,
                  const uint64_t* lastWrite)
{
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = times[0];
    if (lastAccess)
        times[0] = ToTimespec(*lastAccess);
    if (lastWrite)
        times[1] = ToTimespec(*lastWrite);
    std::string native = NativePath(path);
    if (!lastAccess && !lastWrite)
        return access(native.c_str(), F_OK) == 0;
    return utimensat(AT_FDCWD, native.c_str(), times, 0) == 0;
}

std::FILE* OpenFile(const std::string& path, const char* mode)
{
    return std::fopen(NativePath(path).c_str(), mode);
}

int SeekFile64(std::FILE* file, int64_t offset, int origin)
{
    return fseeko(file, static_cast<off_t>(offset), origin);
}

int64_t TellFile64(std::FILE* file)
{
    return static_cast<int64_t>(ftello(file));
}

bool CreateNewFile(const std::string& path)
{
    int fd = open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

bool RemoveFile(const std::string& path)
{
    std::string native = NativePath(path);
    struct stat st;
    // DeleteFileA never removes directories.
    if (lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return unlink(native.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to)
{
    return std::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

bool MakeDirectory(const std::string& path)
{
    std::string native = NativePath(path);
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    if (mkdir(native.c_str(), 0777) == 0)
        return true;
    return errno == EEXIST && IsDirectory(native);
}

bool MakeDirectories(const std::string& path)
{
    std::string native = NativePath(path);
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    if (native.empty() || IsDirectory(native))
        return !native.empty();
    for (size_t pos = native.find('/', 1); pos != std::string::npos; pos = native.find('/', pos + 1))
    {
        std::string level = native.substr(0, pos);
        if (!level.empty() && level.back() != '/')
            mkdir(level.c_str(), 0777);
    }
    mkdir(native.c_str(), 0777);
    return IsDirectory(native);
}

bool RemoveEmptyDirectory(const std::string& path)
{
    return rmdir(NativePath(path).c_str()) == 0;
}

uint64_t LocalFileTimeToUtc(uint64_t localTime)
{
    // The bias of "now", as LocalFileTimeToFileTime applies it.
    time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    int64_t bias = static_cast<int64_t>(local.tm_gmtoff) * 10000000LL;
    return static_cast<uint64_t>(static_cast<int64_t>(localTime) - bias);
}

} // namespace kr::os
