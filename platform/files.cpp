// The parts of the file seam that are the same on every platform.
#include "platform/files.h"

namespace kr::os {

bool GetFileSize(const std::string& path, uint64_t* size)
{
    FileInfo info;
    if (!GetFileInfo(path, info))
        return false;
    if (size)
        *size = info.size;
    return true;
}

bool GetFileTimes(const std::string& path, uint64_t* creation, uint64_t* lastAccess, uint64_t* lastWrite)
{
    FileInfo info;
    if (!GetFileInfo(path, info))
        return false;
    if (creation)
        *creation = info.creation;
    if (lastAccess)
        *lastAccess = info.lastAccess;
    if (lastWrite)
        *lastWrite = info.lastWrite;
    return true;
}

} // namespace kr::os
