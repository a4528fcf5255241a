#pragma once
// The install helper's process-wide state and what each export does with it: the directories,
// the download server from the launcher server's settings, and one engine each for the browser
// plug-in and the game runtime.
#include "install/installer.h"
#include "installhelper/helper_logic.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kr::helper
{

struct CKrInstallHelperConfig
{
    std::string launcherServerUrl;
    std::vector<std::string> signatureKeys;
    // Fills the shared and the user base folder (without trailing separator); "" when unknown.
    std::function<void(std::string& sharedBase, std::string& userBase)> findBaseFolders;
    CKrInstallerTimings timings;
};

class CKrInstallHelper
{
public:
    explicit CKrInstallHelper(CKrInstallHelperConfig config);
    ~CKrInstallHelper();
    CKrInstallHelper(const CKrInstallHelper&) = delete;
    CKrInstallHelper& operator=(const CKrInstallHelper&) = delete;

    // installRoot after a successful resolution, else ""; valid until the next resolution.
    const char* GetInstallDirectory();
    int InstallPlugin(); // 1 started, 0 no directories or no answer
    int InstallGame();   // 1
    int GetInstallPluginStatus();
    int GetInstallGameStatus();
    int EndInstallPlugin();
    int EndInstallGame();
    int EndInstall();
    int Uninstall(); // 0 removed, -1 refused, -2 removal failed

    bool ResolveDirectories();
    bool HasEngine() const { return m_pluginInstaller || m_gameInstaller; }
    const InstallDirectories& Directories() const { return m_dirs; }
    const std::string& DownloadServer() const { return m_downloadServer; }

private:
    std::unique_ptr<CKrInstaller> StartEngine(const std::string& packageName, const std::string& item,
                                              uint32_t itemSize, bool extract);
    static int StatusOf(CKrInstaller* engine);

    CKrInstallHelperConfig m_config;
    InstallDirectories m_dirs;
    std::string m_downloadServer;
    std::unique_ptr<CKrInstaller> m_pluginInstaller;
    std::unique_ptr<CKrInstaller> m_gameInstaller;
};

} // namespace kr::helper
