#include "platform/file_links.h"

#include "platform/files.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kr::os
{

namespace
{

std::string WithoutTrailingSlashes(std::string path)
{
    // "link/" would make lstat follow the link.
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

bool IsLinkEntry(const std::string& path)
{
    struct stat st;
    return lstat(WithoutTrailingSlashes(NativePath(path)).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool RemoveLinkEntry(const std::string& path)
{
    return unlink(WithoutTrailingSlashes(NativePath(path)).c_str()) == 0;
}

struct OpenedEntry::Native
{
    int parent = -1; // the directory that holds the entry
    std::string name;
    int fd = -1; // the directory itself, for a directory

    ~Native()
    {
        if (fd >= 0)
            close(fd);
        if (parent >= 0)
            close(parent);
    }

    // The entry's kind without following it; a directory is opened, and one that turned into
    // something else meanwhile is taken for what it is now.
    bool Decide(EntryKind& kind)
    {
        for (int attempt = 0; attempt < 2; ++attempt)
        {
            struct stat st;
            if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                return false;
            if (S_ISLNK(st.st_mode))
            {
                kind = EntryKind::Link;
                return true;
            }
            if (!S_ISDIR(st.st_mode))
            {
                kind = EntryKind::File;
                return true;
            }
            fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0)
            {
                kind = EntryKind::Directory;
                return true;
            }
            if (errno != ELOOP && errno != ENOTDIR)
                return false;
        }
        return false;
    }
};

OpenedEntry::OpenedEntry() = default;
OpenedEntry::~OpenedEntry() = default;

bool OpenedEntry::Open(const std::string& path)
{
    std::string p = WithoutTrailingSlashes(NativePath(path));
    size_t slash = p.find_last_of('/');
    auto native = std::make_unique<Native>();
    std::string parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
    native->name = slash == std::string::npos ? p : p.substr(slash + 1);
    native->parent = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (native->parent < 0 || native->name.empty() || !native->Decide(m_kind))
        return false;
    m_native = std::move(native);
    return true;
}

bool OpenedEntry::OpenChild(const OpenedEntry& directory, const std::string& name)
{
    if (!directory.m_native || directory.m_kind != EntryKind::Directory || name.empty() ||
        name.find('/') != std::string::npos)
        return false;
    auto native = std::make_unique<Native>();
    native->name = name;
    native->parent = fcntl(directory.m_native->fd, F_DUPFD_CLOEXEC, 0);
    if (native->parent < 0 || !native->Decide(m_kind))
        return false;
    m_native = std::move(native);
    return true;
}

ListResult OpenedEntry::ListNames(std::vector<std::string>& names) const
{
    names.clear();
    if (!m_native || m_kind != EntryKind::Directory)
        return ListResult::Failed;
    int fd = openat(m_native->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir)
    {
        if (fd >= 0)
            close(fd);
        return ListResult::Failed;
    }
    errno = 0;
    while (struct dirent* entry = readdir(dir))
    {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
        errno = 0;
    }
    const bool failed = errno != 0;
    closedir(dir);
    return failed ? ListResult::Failed : ListResult::Listed;
}

bool OpenedEntry::Delete()
{
    if (!m_native)
        return false;
    // By name within the held parent: a directory that became a link meanwhile fails with
    // ENOTDIR, a file that became a directory with EISDIR; neither is followed.
    const int flags = m_kind == EntryKind::Directory ? AT_REMOVEDIR : 0;
    return unlinkat(m_native->parent, m_native->name.c_str(), flags) == 0;
}

} // namespace kr::os
