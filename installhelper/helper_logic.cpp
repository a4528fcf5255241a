#include "installhelper/helper_logic.h"

#include "platform/file_links.h"
#include "platform/files.h"

#include <functional>
#include <vector>

namespace kr::helper
{

namespace
{

constexpr int kStateFinished = 6;
constexpr int kStateFailed = 7;

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
    {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// Only a plain directory counts: any further attribute bit sends the path to the creation step.
bool ExistsAsDirectory(const std::string& path)
{
    kr::os::FileInfo info;
    return kr::os::GetFileInfo(path, info) && info.attributes == kr::os::kAttrDirectory;
}

void SetCandidate(const std::string& rootBase, const std::string& userBase, const std::string& folder,
                  InstallDirectories& dirs)
{
    dirs.installRoot = rootBase + "\\" + folder + "\\";
    dirs.installDataDir = dirs.installRoot + "Data\\";
    dirs.userDataDir = userBase + "\\" + folder + "\\";
}

bool AllExist(const InstallDirectories& dirs)
{
    return ExistsAsDirectory(dirs.installRoot) && ExistsAsDirectory(dirs.installDataDir) &&
           ExistsAsDirectory(dirs.userDataDir);
}

} // namespace

int StatusFromEngine(int state, int errorCode, float doneMB, float totalMB)
{
    if (state == kStateFailed)
        return (errorCode == 1 || errorCode == 2) ? -1 : -2;
    if (state == kStateFinished)
        return 100;
    if (!(totalMB > 0.0f))
        return 0;
    // In double and capped before the conversion: a huge ratio must not overflow the integer.
    double percent = static_cast<double>(doneMB) / static_cast<double>(totalMB) * 100.0;
    if (percent >= 100.0)
        return 99;
    if (!(percent > 0.0))
        return 0;
    return static_cast<int>(percent);
}

std::string GetSetting(const std::string& answer, const std::string& name)
{
    size_t pos = 0;
    while (pos < answer.size())
    {
        size_t start = answer.find_first_not_of(' ', pos);
        if (start == std::string::npos)
            break;
        size_t end = answer.find(' ', start);
        if (end == std::string::npos)
            end = answer.size();
        pos = end;
        if (answer[start] != '-')
            continue;
        size_t eq = answer.find('=', start);
        if (eq == std::string::npos || eq >= end)
            continue;
        if (EqualsNoCase(answer.substr(start + 1, eq - start - 1), name))
            return answer.substr(eq + 1, end - eq - 1);
    }
    return std::string();
}

bool IsProductFolderRoot(const std::string& installRoot, const std::string& folder)
{
    if (installRoot.size() < 8)
        return false;
    std::string dir = installRoot.substr(0, installRoot.size() - 1);
    size_t slash = dir.find_last_of("\\/");
    std::string last = slash == std::string::npos ? dir : dir.substr(slash + 1);
    return last.substr(0, last.find('.')) == folder;
}

bool ResolveInstallDirectories(const std::string& folder, const std::string& sharedBase,
                               const std::string& userBase, InstallDirectories& dirs)
{
    // The user directory always lies under the user base: without it nothing can be resolved.
    if (userBase.empty())
        return false;
    SetCandidate(userBase, userBase, folder, dirs);
    if (AllExist(dirs))
        return true;
    if (!sharedBase.empty())
    {
        SetCandidate(sharedBase, userBase, folder, dirs);
        if (AllExist(dirs))
            return true;
    }

    int count = 0;
    if (!sharedBase.empty() && kr::os::MakeDirectory(dirs.installRoot))
        ++count;
    if (count == 0)
    {
        SetCandidate(userBase, userBase, folder, dirs);
        if (kr::os::MakeDirectory(dirs.installRoot))
            ++count;
    }
    if (kr::os::MakeDirectory(dirs.installDataDir))
        ++count;
    if (kr::os::MakeDirectory(dirs.userDataDir))
        ++count;
    return count == 3;
}

namespace
{

// Deeper than any installation; a limit keeps a hostile tree from exhausting the stack.
constexpr int kMaxRemovalDepth = 256;

bool RemoveOpened(kr::os::OpenedEntry& entry, const std::string& path, int depth,
                  const std::function<void(const std::string&)>& beforeListing)
{
    if (entry.Kind() != kr::os::EntryKind::Directory)
        return entry.Delete();
    if (depth > kMaxRemovalDepth)
        return false;
    if (beforeListing)
        beforeListing(path);
    std::vector<std::string> names;
    if (entry.ListNames(names) == kr::os::ListResult::Failed)
        return false;
    for (const std::string& name : names)
    {
        // Kept; the directory then cannot go and the removal fails below.
        if (name[0] == '.')
            continue;
        kr::os::OpenedEntry child;
        if (!child.OpenChild(entry, name) || !RemoveOpened(child, path + "\\" + name, depth + 1, beforeListing))
            return false;
    }
    return entry.Delete();
}

} // namespace

bool RemoveDirectoryTree(const std::string& dir)
{
    return RemoveDirectoryTree(dir, nullptr);
}

bool RemoveDirectoryTree(const std::string& dir, const std::function<void(const std::string&)>& beforeListing)
{
    kr::os::OpenedEntry root;
    return root.Open(dir) && RemoveOpened(root, dir, 0, beforeListing);
}

} // namespace kr::helper
