#include "platform/file_links.h"

#include "platform/files.h"

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

} // namespace kr::os
