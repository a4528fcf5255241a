// quorvale-launcher: the launcher on Linux. One copy at a time, GTK and WebKitGTK for the window and
// the browser, the game runtime through Wine.
#include "launcher/launcher.h"
#include "launcher/linux/settings_registry.h"
#include "launcher/linux/system_ports.h"
#include "platform/process.h"
#include "services/metrics.h"
#include "services/process_utils.h"
#include "ui/gtk/gtk_window.h"
#include "ui/gtk/webkit_browser.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>

namespace
{

uint32_t RunLauncher(const std::string& commandLine)
{
    using namespace kr::linux_host;
    // The metrics address is compiled in; a test or a staging set-up may point it elsewhere.
    if (const char* metrics = std::getenv("KR_METRICS_URL"); metrics && *metrics)
        SetMetricsUrl(metrics);

    CKrGtkWindow window;
    CKrWebKitBrowser browser(window);
    const std::string configHome = ConfigHome();
    CKrSettingsRegistry registry(configHome.empty() ? std::string() : configHome + "/QuorvaleOnline/settings");
    CKrLinuxShell shell;
    CKrXdgFolders folders;
    const KrLauncherPorts ports{window, browser, registry, shell, folders};

    KrLauncherOptions options;
    // The Windows pre-launcher cannot restart this program: a launcher package never applies here.
    options.selfUpdate = false;
    options.registerProtocol = [](uint32_t& error)
    {
        const std::string dataHome = DataHome();
        if (dataHome.empty())
        {
            error = kKrErrorFileNotFound;
            return 2;
        }
        return RegisterDesktopEntry(dataHome + "/applications/quorvaleonline.desktop", kr::os::ExecutablePath(),
                                    error);
    };
    // Declared last: it holds the ports and goes first.
    CKrLauncher launcher(ports, options);
    return launcher.Run(commandLine);
}

} // namespace

int main(int argc, char** argv)
{
    // The running copy counts itself: a second one sees two.
    if (CountProcessesByName(GetExecutableName()) >= 2)
        return 0;
    if (!gtk_init_check(&argc, &argv))
    {
        std::fprintf(stderr, "quorvale-launcher: cannot open the display\n");
        return 1;
    }
    // The Windows program's command line: its options separated by blanks, without the program name.
    std::string commandLine;
    for (int i = 1; i < argc; ++i)
        commandLine += std::string(i > 1 ? " " : "") + argv[i];
    uint32_t result = 0;
    try
    {
        result = RunLauncher(commandLine);
    }
    catch (...)
    {
        // Nothing may escape the entry point; the player simply sees the launcher end.
        result = 0;
    }
    return static_cast<int>(result);
}
