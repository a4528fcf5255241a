// QuorvaleOnlineLauncher.exe: one copy at a time, the launcher object on the stack, its Run.
#include "launcher/launcher.h"
#include "launcher/win32/system_ports.h"
#include "launcher/win32/window_port.h"
#include "services/process_utils.h"
#include "ui/browser_host.h"

#include <ole2.h>
#include <windows.h>

namespace
{

uint32_t RunLauncher(HINSTANCE instance, const char* commandLine)
{
    CKrBrowserHost browser;
    CKrWin32Window window(instance, browser);
    CKrWin32Registry registry;
    CKrWin32Shell shell;
    CKrWin32Folders folders;
    const KrLauncherPorts ports{window, browser, registry, shell, folders};
    // Declared last: it holds the ports and goes first.
    CKrLauncher launcher(ports);
    return launcher.Run(commandLine ? commandLine : "");
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    // The running copy counts itself: a second one sees two.
    if (CountProcessesByName(GetExecutableName()) >= 2)
        return 0;
    OleInitialize(nullptr);
    uint32_t result = 0;
    try
    {
        result = RunLauncher(instance, commandLine);
    }
    catch (...)
    {
        // Nothing may escape the entry point; the player simply sees the launcher end.
        result = 0;
    }
    OleUninitialize();
    return static_cast<int>(result);
}
