#pragma once
// Operating-system seam: directory entries that point elsewhere (symbolic links, junctions and
// other reparse points). Removing a tree must remove such an entry without following it.
#include <memory>
#include <string>
#include <vector>

namespace kr::os
{

// True when `path` itself is a link; the link is never followed.
bool IsLinkEntry(const std::string& path);
// Removes the link itself; what it points to is left alone.
bool RemoveLinkEntry(const std::string& path);

enum class EntryKind
{
    Link, // symbolic link, junction or other reparse point
    Directory,
    File,
};

enum class ListResult
{
    Listed,
    NothingFound, // the listing found no entry at all (ERROR_FILE_NOT_FOUND)
    Failed,       // the listing could not start, or ended with an error
};

// A file-system entry opened without following it. Its kind, its listing and its deletion are all
// decided on the opened handle, and children are opened relative to it, so an entry that is swapped
// for a link after it was opened is never followed.
class OpenedEntry
{
public:
    OpenedEntry();
    ~OpenedEntry();
    OpenedEntry(const OpenedEntry&) = delete;
    OpenedEntry& operator=(const OpenedEntry&) = delete;

    // The entry at `path` itself (the path's parent directories are taken as they are).
    bool Open(const std::string& path);
    // The entry `name` of the opened directory `directory`.
    bool OpenChild(const OpenedEntry& directory, const std::string& name);
    EntryKind Kind() const { return m_kind; }
    // Names in the opened directory, without "." and ".." (UTF-8 on Windows).
    ListResult ListNames(std::vector<std::string>& names) const;
    // Removes the entry: a link itself, a file, or an empty directory.
    bool Delete();

private:
    struct Native;
    std::unique_ptr<Native> m_native;
    EntryKind m_kind = EntryKind::File;
};

} // namespace kr::os
