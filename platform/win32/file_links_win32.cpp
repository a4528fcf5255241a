#include "platform/file_links.h"

#include <windows.h>

namespace kr::os
{

namespace
{

std::string WithoutTrailingSeparators(std::string path)
{
    while (path.size() > 1 && (path.back() == '\\' || path.back() == '/') && path[path.size() - 2] != ':')
        path.pop_back();
    return path;
}

} // namespace

bool IsLinkEntry(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(WithoutTrailingSeparators(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool RemoveLinkEntry(const std::string& path)
{
    std::string p = WithoutTrailingSeparators(path);
    DWORD attributes = GetFileAttributesA(p.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    // A directory link or junction goes with RemoveDirectoryA, which never enters its target.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return RemoveDirectoryA(p.c_str()) != FALSE;
    return DeleteFileA(p.c_str()) != FALSE;
}

} // namespace kr::os
