#pragma once
// The launcher's shell and folder ports on Linux, and its URL protocol as a desktop entry.
#include "launcher/ports.h"

#include <string>
#include <vector>

// Windows programs start through Wine (or the program $KR_RUNTIME_LAUNCHER names); URLs open in the
// desktop's browser through xdg-open, http and https only.
class CKrLinuxShell : public IKrShellPort
{
public:
    void StartProgram(const std::string& file, const std::string& parameters,
                      const std::string& directory) override;
    void OpenUrl(const std::string& url) override;

    // The pieces of a Windows-style parameter text: each starts at a " -" and runs to the next one,
    // so a path with blanks stays one piece.
    static std::vector<std::string> SplitParameters(const std::string& parameters);
    // Whether OpenUrl hands the URL on.
    static bool IsWebUrl(const std::string& url);
};

// XDG locations. There is no machine-wide folder a player may write to, so the shared and the user
// folder are both $XDG_DATA_HOME; there is no Program Files folder.
class CKrXdgFolders : public IKrFoldersPort
{
public:
    std::string ProgramFilesFolder() override;
    void DataFolders(std::string& shared, std::string& user) override;
    bool LongPathName(const std::string& path, std::string& longPath) override;
    uint32_t FileAttributes(const std::string& path) override;
    uint32_t MakeDirectory(const std::string& path) override;
};

namespace kr::linux_host
{
// $XDG_CONFIG_HOME, $XDG_DATA_HOME with their defaults below $HOME; "" without either.
std::string ConfigHome();
std::string DataHome();

// The desktop entry that makes `executable` the handler of the launcher's URL scheme.
std::string DesktopEntry(const std::string& executable);
// Writes it as `file` once: 1 when the file exists already (left as it is), 0 when written now, 2
// when it cannot be written (`error` holds a Win32-style code).
int RegisterDesktopEntry(const std::string& file, const std::string& executable, uint32_t& error);
} // namespace kr::linux_host
