#include "installhelper/install_helper.h"

#include "installhelper/signed_request.h"

namespace kr::helper
{

CKrInstallHelper::CKrInstallHelper(CKrInstallHelperConfig config) : m_config(std::move(config)) {}

CKrInstallHelper::~CKrInstallHelper()
{
    EndInstall();
}

bool CKrInstallHelper::ResolveDirectories()
{
    std::string shared, user;
    if (m_config.findBaseFolders)
        m_config.findBaseFolders(shared, user);
    return ResolveInstallDirectories(kProductFolder, shared, user, m_dirs);
}

const char* CKrInstallHelper::GetInstallDirectory()
{
    return ResolveDirectories() ? m_dirs.installRoot.c_str() : "";
}

std::unique_ptr<CKrInstaller> CKrInstallHelper::StartEngine(const std::string& packageName,
                                                            const std::string& item, uint32_t itemSize,
                                                            bool extract)
{
    CKrInstallerSettings settings;
    settings.build = KrInstallerBuild::Helper;
    settings.checkDirectX = false;
    settings.helperNumber = 21;
    settings.helperText1 = "qvo-eu-client";
    settings.helperText2 = "dload";
    settings.helperSecondDir = "";
    settings.timings = m_config.timings;
    auto engine = std::make_unique<CKrInstaller>();
    engine->Init(packageName, m_dirs.installRoot, m_downloadServer, settings);
    engine->AddItem(item, itemSize, extract);
    engine->Start();
    return engine;
}

int CKrInstallHelper::InstallPlugin()
{
    if (!ResolveDirectories())
        return 0;
    CKrHttpRequest request(m_config.signatureKeys);
    if (!request.SendSignedRequest(m_config.launcherServerUrl + "/data"))
        return 0;
    m_downloadServer = GetSetting(request.GetAnswer(), "DownloadServer");
    // An earlier engine of this kind is stopped first: two engines must never share a directory.
    m_pluginInstaller.reset();
    m_pluginInstaller = StartEngine("PluginData", "KelvaneRuntimeBrowserDLL.krzi", 2500000, false);
    return 1;
}

int CKrInstallHelper::InstallGame()
{
    m_gameInstaller.reset();
    m_gameInstaller = StartEngine("Data", "KelvaneRuntimeMMO.zip", 1250000, true);
    return 1;
}

int CKrInstallHelper::StatusOf(CKrInstaller* engine)
{
    if (!engine)
        return 0;
    int state = 0;
    float doneMB = 0.0f, totalMB = 0.0f;
    engine->GetStatus(&state, &doneMB, &totalMB, nullptr, nullptr);
    return StatusFromEngine(state, engine->GetErrorCode(), doneMB, totalMB);
}

int CKrInstallHelper::GetInstallPluginStatus()
{
    return StatusOf(m_pluginInstaller.get());
}

int CKrInstallHelper::GetInstallGameStatus()
{
    return StatusOf(m_gameInstaller.get());
}

int CKrInstallHelper::EndInstallPlugin()
{
    m_pluginInstaller.reset();
    return 1;
}

int CKrInstallHelper::EndInstallGame()
{
    m_gameInstaller.reset();
    return 1;
}

int CKrInstallHelper::EndInstall()
{
    m_pluginInstaller.reset();
    m_gameInstaller.reset();
    return 1;
}

int CKrInstallHelper::Uninstall()
{
    if (!ResolveDirectories())
        return -1;
    if (!IsProductFolderRoot(m_dirs.installRoot, kProductFolder))
        return -1;
    std::string dir = m_dirs.installRoot.substr(0, m_dirs.installRoot.size() - 1);
    return RemoveDirectoryTree(dir) ? 0 : -2;
}

} // namespace kr::helper
