#pragma once
// Operating-system seam: directory entries that point elsewhere (symbolic links, junctions and
// other reparse points). Removing a tree must remove such an entry without following it.
#include <string>

namespace kr::os
{

// True when `path` itself is a link; the link is never followed.
bool IsLinkEntry(const std::string& path);
// Removes the link itself; what it points to is left alone.
bool RemoveLinkEntry(const std::string& path);

} // namespace kr::os
