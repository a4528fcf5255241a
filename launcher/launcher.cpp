#include "launcher/launcher.h"

#include "launcher/command_line.h"
#include "launcher/launcher_events.h"
#include "launcher/server_requests.h"
#include "launcher/string_utils.h"
#include "platform/files.h"
#include "services/clock.h"
#include "services/http_request.h"
#include "services/metrics.h"

#include <cstdlib>
#include <ctime>

using namespace kr::launcher;

namespace
{

// Installed bytes below `dir`; the depth limit keeps a link loop from running forever.
uint64_t TreeBytes(const std::string& dir, int depth = 0)
{
    std::vector<kr::os::FileInfo> entries;
    if (depth > CKrInstaller::kMaxScanDepth || !kr::os::ListDirectory(dir, entries))
        return 0;
    uint64_t total = 0;
    for (const auto& entry : entries)
    {
        if (entry.name == "." || entry.name == "..")
            continue;
        if (entry.attributes & kr::os::kAttrDirectory)
            total += TreeBytes(dir + entry.name + "\\", depth + 1);
        else
            total += entry.size;
    }
    return total;
}

} // namespace

CKrLauncher::CKrLauncher(const KrLauncherPorts& ports, KrLauncherOptions options)
    : CKrWebBrowser(ports.browser), m_ports(ports), m_options(std::move(options))
{
    // The request query's random number draws from the runtime's generator.
    std::srand(static_cast<unsigned>(std::time(nullptr)));
}

CKrLauncher::~CKrLauncher() = default;

uint32_t CKrLauncher::Run(const std::string& commandLine)
{
    if (!StartUp(commandLine))
        return 0;
    uint32_t result = m_ports.window.RunMessageLoop();
    ShutDown();
    return result;
}

bool CKrLauncher::StartUp(const std::string& commandLine)
{
    StartRequestSender();
    CreateMetricsCollector();

    CKrCommandLine options;
    options.Parse(commandLine);
    if (m_config.ApplyCommandLine(options, m_ports.folders))
        LoadLanguageData(m_config.languageCode);
    m_config.ApplyPreLauncherRule(m_ports.folders);
    if (m_config.projectPath.empty())
        m_config.ResolveDefaultPaths(m_ports.folders);

    if (!m_ports.window.CreateSplashWindow(*this))
        return false;
    m_state.hasTaskbar = m_ports.window.CreateTaskbarProgress();
    CreateBrowser();

    uint32_t error = 0;
    int registration = RegisterUrlProtocol(error);
    if (registration != 1)
        QueueProtocolEvent(registration == 0, error);

    Handshake();
    m_ports.window.SetTimer(kTimerMainWindow, kMainWindowDelayMs);
    return true;
}

void CKrLauncher::ShutDown()
{
    StopMetrics();
    StopRequestSender(kMetricsDrainMs);
}

void CKrLauncher::Handshake()
{
    CKrHttpRequest request;
    if (!PostLauncherData(request, m_config.launcherServer))
    {
        m_state.launcherDataFailed = true;
        return;
    }
    m_config.ApplySettings(request);

    if (!PostDownloadData(request, m_config.launcherServer))
        m_state.launcherDataFailed = true;
    m_config.ApplyDownloadSettings(request);

    if (m_options.gatherSystemInfo)
        m_options.gatherSystemInfo(m_systemInfo);
    else
        m_systemInfo.Gather();
    m_state.requirementsMet = true;
    if (!m_config.downloadServer.empty())
        StartInstaller();

    LoadLanguageData(m_config.languageCode);
}

void CKrLauncher::StartInstaller()
{
    m_installer = std::make_unique<CKrInstaller>();
    CKrInstallerSettings settings = m_options.installer;
    settings.build = KrInstallerBuild::Launcher;
    if (m_config.downloadLimitKB > 0)
        settings.transfers.rateLimit = static_cast<uint64_t>(m_config.downloadLimitKB) * 1024;
    settings.verifyInstall = m_config.verifyInstall;
    if (!settings.events)
        settings.events = &LauncherInstallerEvents();
    m_installer->Init("Data", m_config.projectPath, m_config.downloadServer, settings);
    m_installer->AddItem("Splash.zip", 64094, true);
    m_installer->AddItem(kLauncherPackage, 364544, false);
    m_installer->AddItem("KelvaneRuntimeMMO.zip", 1250000, true);
    const std::string errorPageDir = m_config.projectPath + "ErrorPage\\";
    // It usually exists from an earlier run.
    kr::os::MakeDirectory(errorPageDir);
    m_installer->AddItem("ErrorPage.zip", 50000, true, errorPageDir);

    CheckDiskRequirement();
    if (m_state.requirementsMet)
        m_installer->Start();
}

void CKrLauncher::CheckDiskRequirement()
{
    int32_t& minimum = m_config.minimumDiscMemory;
    if (!m_installer->IsFreshInstall())
    {
        // What is installed already needs no new space.
        uint64_t existingMb = TreeBytes(m_config.projectPath) >> 20;
        minimum = existingMb >= static_cast<uint64_t>(std::max(minimum, 0))
                      ? 0
                      : minimum - static_cast<int32_t>(existingMb);
    }
    if (static_cast<int64_t>(m_systemInfo.diskFreeMb) < minimum || m_config.diskSizeError)
    {
        m_state.requirementsMet = false;
        m_state.failingRequirement = "MinimumDiscMemory";
        m_state.requiredValue = std::to_string(minimum);
        m_state.availableValue = std::to_string(m_systemInfo.diskFreeMb);
    }
}

void CKrLauncher::OnTimer(uint32_t id)
{
    switch (id)
    {
    case kTimerMainWindow:
        m_ports.window.KillTimer(kTimerMainWindow);
        ShowMainWindow();
        break;
    case kTimerShow:
        OnShowTimer();
        break;
    case kTimerProgress:
        OnProgressTimer();
        break;
    default:
        break;
    }
}

void CKrLauncher::OnDestroy()
{
    m_ports.window.PostQuit();
}

void CKrLauncher::ShowMainWindow()
{
    IKrWindowPort& window = m_ports.window;
    const int32_t width = m_config.mainWidth;
    const int32_t height = m_config.mainHeight + 32;
    window.SetStyle(kKrStyleMainWindow);
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    window.ScreenSize(screenWidth, screenHeight);
    const KrFrameMetrics frame = window.FrameMetrics();
    window.Move(screenWidth / 2 - width / 2, screenHeight / 2 - height / 2, width + 2 * frame.frameX,
                height + frame.caption + 2 * frame.frameY);
    ResizeBrowser();
    window.Show(false);
    // Also drops the splash's layered style.
    window.SetExStyle(kKrExStyleMainWindow);

    if (m_state.launcherDataFailed)
        ShowErrorPage("");
    else if (m_config.serverError)
        ShowErrorPage(m_config.serverErrorText);
    else if (m_state.languageError)
        ShowErrorPage(m_state.languageErrorText);
    else if (!m_state.requirementsMet)
        ShowServerPage(m_state.failingRequirement, m_state.requiredValue, m_state.availableValue);
    else if (m_config.sid.empty())
        Navigate(m_config.webServer);
    else
        Navigate(PageBase() + "?sid=" + m_config.sid + "&customer_id=" + UnsignedToText(m_config.customerId));

    m_state.layout = ComputeLayout(window.ClientRect());
    window.SetTimer(kTimerShow, kShowDelayMs);
}

void CKrLauncher::OnShowTimer()
{
    m_ports.window.Show(true);
    m_ports.window.KillTimer(kTimerShow);
    m_ports.window.SetTimer(kTimerProgress, kProgressPeriodMs);
}

void CKrLauncher::OnProgressTimer()
{
    if (m_installer && !m_state.installComplete)
    {
        int state = 0;
        float doneMb = 0;
        float totalMb = 0;
        m_installer->GetStatus(&state, &doneMb, &totalMb, nullptr, nullptr);
        if (state == CKrInstaller::StateFinished)
        {
            m_state.installComplete = true;
            m_state.completionTime = CKrTime::Now();
            CheckLauncherUpdate();
            if (m_state.hasTaskbar)
                m_ports.window.SetTaskbarNoProgress();
        }
        else if (m_state.hasTaskbar)
        {
            m_ports.window.SetTaskbarProgress(static_cast<uint64_t>(doneMb), static_cast<uint64_t>(totalMb));
        }
    }
    m_ports.window.Invalidate();
}

std::string CKrLauncher::PageBase() const
{
    return m_config.webServer + "/" + m_config.PageLanguage() + "/";
}
