#pragma once
// The install helper's decisions that need no operating system of their own: status numbers,
// the settings lookup, the uninstall name check, the directory candidates and the tree removal.
#include <functional>
#include <string>

namespace kr::helper
{

// The product folder every directory resolution and the uninstall check use.
constexpr const char* kProductFolder = "QuorvaleOnline";

// Status number of an engine from its state, error code and megabytes: -1 when the server or
// its file list was unreachable, -2 for any other failure, 100 only when finished, otherwise the
// truncated percentage capped at 99 (0 before anything was measured).
int StatusFromEngine(int state, int errorCode, float doneMB, float totalMB);

// Value of the first blank-separated token "-name=value" whose name matches without ASCII case;
// "" when there is none.
std::string GetSetting(const std::string& answer, const std::string& name);

// True when installRoot (ending in a separator) names the product folder itself: at least 8
// characters, and its last component cut at the first "." equals `folder` exactly.
bool IsProductFolderRoot(const std::string& installRoot, const std::string& folder);

struct InstallDirectories
{
    std::string installRoot;    // ends in "\\"
    std::string installDataDir; // installRoot + "Data\\"
    std::string userDataDir;    // ends in "\\"
};

// Finds or creates the directories under the shared and user base folders (without trailing
// separator). An empty base is never used: it would put the product at the root of a drive.
// The strings keep the last candidate tried even when the result is false.
bool ResolveInstallDirectories(const std::string& folder, const std::string& sharedBase,
                               const std::string& userBase, InstallDirectories& dirs);

// Removes `dir` (without trailing separator) with everything in it. Links (symbolic links,
// junctions) are removed themselves and never followed: every entry is opened as itself and
// decided, listed and deleted through that handle, so an entry swapped for a link meanwhile cannot
// lead outside the tree. Entries whose name begins with "." are kept, so their directory stays and
// the result is false. Stops at the first failure.
bool RemoveDirectoryTree(const std::string& dir);
// The same; `beforeListing` is called with each directory's path after it was opened and before its
// entries are read (for tests that change the tree at that moment).
bool RemoveDirectoryTree(const std::string& dir, const std::function<void(const std::string&)>& beforeListing);

} // namespace kr::helper
