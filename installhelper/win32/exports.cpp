// The ten exports of the library (kelvane_install_helper.h). Each one catches everything: no exception
// crosses into a host.
#include "install/directx_check.h"
#include "installhelper/install_helper.h"
#include "installhelper/win32/base_folders.h"
#include "installhelper/win32/helper_config.h"

#include <windows.h>

#define KR_INSTALL_HELPER_BUILD
#include "installhelper/kelvane_install_helper.h"

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

// A host may free the library while a run goes on; the engine threads would then run code that is
// no longer mapped. So the library holds a reference to itself while an engine exists and gives it
// back once the last one has been ended (its threads have left by then).
void HoldModuleWhileEnginesExist()
{
    static HMODULE held = nullptr;
    const bool engines = Helper().HasEngine();
    if (engines && !held)
    {
        HMODULE self = nullptr;
        if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                               reinterpret_cast<LPCSTR>(&HoldModuleWhileEnginesExist), &self))
            held = self;
    }
    else if (!engines && held)
    {
        HMODULE self = held;
        held = nullptr;
        // The host's own reference keeps the module loaded until this call has returned.
        FreeLibrary(self);
    }
}

template <typename Result, typename Fn> Result Guarded(Result onException, Fn fn)
{
    Result result = onException;
    try
    {
        result = fn();
    }
    catch (...)
    {
    }
    try
    {
        HoldModuleWhileEnginesExist();
    }
    catch (...)
    {
    }
    return result;
}

} // namespace

#define KR_EXPORT KR_INSTALL_HELPER_API

KR_EXPORT const char* __stdcall GetInstallDirectory()
{
    return Guarded<const char*>("", [] { return Helper().GetInstallDirectory(); });
}

KR_EXPORT int __stdcall InstallPlugin()
{
    return Guarded(0, [] { return Helper().InstallPlugin(); });
}

KR_EXPORT int __stdcall InstallGame()
{
    return Guarded(0, [] { return Helper().InstallGame(); });
}

KR_EXPORT int __stdcall GetInstallPluginStatus()
{
    return Guarded(-2, [] { return Helper().GetInstallPluginStatus(); });
}

KR_EXPORT int __stdcall GetInstallGameStatus()
{
    return Guarded(-2, [] { return Helper().GetInstallGameStatus(); });
}

KR_EXPORT int __stdcall EndInstallPlugin()
{
    return Guarded(1, [] { return Helper().EndInstallPlugin(); });
}

KR_EXPORT int __stdcall EndInstallGame()
{
    return Guarded(1, [] { return Helper().EndInstallGame(); });
}

KR_EXPORT int __stdcall EndInstall()
{
    return Guarded(1, [] { return Helper().EndInstall(); });
}

KR_EXPORT int __stdcall Uninstall()
{
    return Guarded(-2, [] { return Helper().Uninstall(); });
}

KR_EXPORT int __stdcall IsDirectXInstalled()
{
    return Guarded(0, [] { return IsDirectXPresent() ? 1 : 0; });
}
