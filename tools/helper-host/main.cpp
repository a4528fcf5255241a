// kr-helper-host [--dll NAME] [--timeout SECONDS] [--install] [--uninstall]
//
// Loads the install helper like a third-party installer would (LoadLibraryA, GetProcAddress of the
// plain export names) and prints the install directory. With --install it starts the plug-in and the
// game runs side by side, prints both status numbers every half second until each is 100 or negative
// and ends the runs; with --uninstall it then removes the installation. One "key=value" line per fact,
// for scripts to read. Exit status: 0 when the runs reached 100 and the uninstall gave 0 (each when
// asked for), 1 otherwise, 2 unusable arguments or a missing library or export.
#include "installhelper/kelvane_install_helper.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

struct HelperExports
{
    KrInstallHelperGetInstallDirectoryFn getInstallDirectory = nullptr;
    KrInstallHelperInstallPluginFn installPlugin = nullptr;
    KrInstallHelperInstallGameFn installGame = nullptr;
    KrInstallHelperGetInstallPluginStatusFn pluginStatus = nullptr;
    KrInstallHelperGetInstallGameStatusFn gameStatus = nullptr;
    KrInstallHelperEndInstallFn endInstall = nullptr;
    KrInstallHelperUninstallFn uninstall = nullptr;
    KrInstallHelperIsDirectXInstalledFn isDirectXInstalled = nullptr;
};

template <typename Fn> bool Find(HMODULE module, const char* name, Fn* fn)
{
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!*fn)
        std::printf("missing_export=%s\n", name);
    return *fn != nullptr;
}

bool Finished(int status)
{
    return status == 100 || status < 0;
}

// Starts both runs, polls them to their end and ends them; true when both reached 100.
bool RunInstall(const HelperExports& x, double timeoutSeconds)
{
    DWORD start = GetTickCount();
    int plugin = x.installPlugin();
    std::printf("install_plugin=%d\n", plugin);
    std::printf("install_game=%d\n", x.installGame());
    int pluginStatus = 0;
    int gameStatus = 0;
    bool timedOut = false;
    // InstallPlugin's 0 means no engine was created: nothing to poll.
    while (plugin == 1)
    {
        pluginStatus = x.pluginStatus();
        gameStatus = x.gameStatus();
        std::printf("status plugin=%d game=%d\n", pluginStatus, gameStatus);
        if (Finished(pluginStatus) && Finished(gameStatus))
            break;
        if ((GetTickCount() - start) / 1000.0 > timeoutSeconds)
        {
            timedOut = true;
            break;
        }
        Sleep(500);
    }
    std::printf("seconds=%.1f\n", (GetTickCount() - start) / 1000.0);
    std::printf("timed_out=%d\n", timedOut ? 1 : 0);
    std::printf("end_install=%d\n", x.endInstall());
    std::printf("final plugin=%d game=%d\n", x.pluginStatus(), x.gameStatus());
    return pluginStatus == 100 && gameStatus == 100;
}

} // namespace

int main(int argc, char** argv)
{
    std::string dll = "KelvaneInstallHelper.dll";
    double timeoutSeconds = 120;
    bool install = false;
    bool uninstall = false;
    for (int i = 1; i < argc; ++i)
    {
        if (!std::strcmp(argv[i], "--dll") && i + 1 < argc)
            dll = argv[++i];
        else if (!std::strcmp(argv[i], "--timeout") && i + 1 < argc)
            timeoutSeconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--install"))
            install = true;
        else if (!std::strcmp(argv[i], "--uninstall"))
            uninstall = true;
        else
        {
            std::fprintf(stderr, "usage: kr-helper-host [--dll NAME] [--timeout SECONDS] [--install] [--uninstall]\n");
            return 2;
        }
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    HMODULE module = LoadLibraryA(dll.c_str());
    if (!module)
    {
        std::printf("load_error=%lu\n", GetLastError());
        return 2;
    }
    HelperExports x;
    bool all = Find(module, "GetInstallDirectory", &x.getInstallDirectory) &
               Find(module, "InstallPlugin", &x.installPlugin) & Find(module, "InstallGame", &x.installGame) &
               Find(module, "GetInstallPluginStatus", &x.pluginStatus) &
               Find(module, "GetInstallGameStatus", &x.gameStatus) & Find(module, "EndInstall", &x.endInstall) &
               Find(module, "Uninstall", &x.uninstall) &
               Find(module, "IsDirectXInstalled", &x.isDirectXInstalled);
    if (!all)
        return 2;

    std::printf("install_directory=%s\n", x.getInstallDirectory());
    std::printf("directx=%d\n", x.isDirectXInstalled());
    bool installed = true;
    if (install)
        installed = RunInstall(x, timeoutSeconds);
    int removed = 0;
    if (uninstall)
    {
        removed = x.uninstall();
        std::printf("uninstall=%d\n", removed);
    }
    FreeLibrary(module);
    return installed && removed == 0 ? 0 : 1;
}
