// The ten exports of the library. Each one catches everything: no exception crosses into a host.
#include "install/directx_check.h"
#include "installhelper/install_helper.h"
#include "installhelper/win32/base_folders.h"
#include "installhelper/win32/helper_config.h"

#include <windows.h>

namespace
{

// Never destroyed: stopping engines from the loader's detach would wait for threads that cannot
// end while the loader lock is held, or that the process has already ended.
kr::helper::CKrInstallHelper& Helper()
{
    static kr::helper::CKrInstallHelper* helper = []
    {
        kr::helper::CKrInstallHelperConfig config;
        config.launcherServerUrl = kr::helper::CompiledLauncherServer();
        config.signatureKeys = kr::helper::CompiledSignatureKeys();
        config.findBaseFolders = kr::helper::FindBaseFolders;
        return new kr::helper::CKrInstallHelper(std::move(config));
    }();
    return *helper;
}

template <typename Result, typename Fn> Result Guarded(Result onException, Fn fn)
{
    try
    {
        return fn();
    }
    catch (...)
    {
        return onException;
    }
}

} // namespace

#define KR_EXPORT extern "C" __declspec(dllexport)

KR_EXPORT const char* WINAPI GetInstallDirectory()
{
    return Guarded<const char*>("", [] { return Helper().GetInstallDirectory(); });
}

KR_EXPORT int WINAPI InstallPlugin()
{
    return Guarded(0, [] { return Helper().InstallPlugin(); });
}

KR_EXPORT int WINAPI InstallGame()
{
    return Guarded(0, [] { return Helper().InstallGame(); });
}

KR_EXPORT int WINAPI GetInstallPluginStatus()
{
    return Guarded(-2, [] { return Helper().GetInstallPluginStatus(); });
}

KR_EXPORT int WINAPI GetInstallGameStatus()
{
    return Guarded(-2, [] { return Helper().GetInstallGameStatus(); });
}

KR_EXPORT int WINAPI EndInstallPlugin()
{
    return Guarded(1, [] { return Helper().EndInstallPlugin(); });
}

KR_EXPORT int WINAPI EndInstallGame()
{
    return Guarded(1, [] { return Helper().EndInstallGame(); });
}

KR_EXPORT int WINAPI EndInstall()
{
    return Guarded(1, [] { return Helper().EndInstall(); });
}

KR_EXPORT int WINAPI Uninstall()
{
    return Guarded(-2, [] { return Helper().Uninstall(); });
}

KR_EXPORT int WINAPI IsDirectXInstalled()
{
    return Guarded(0, [] { return IsDirectXPresent() ? 1 : 0; });
}
