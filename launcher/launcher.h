#pragma once
// The launcher: start-up, server handshake, main window, progress, game start, self-update, URL
// protocol and the commands carried in the web interface's URLs. All of it runs on the user-interface
// thread; the operating system is reached only through the ports.
#include "launcher/bottom_bar.h"
#include "launcher/launcher_config.h"
#include "launcher/ports.h"
#include "launcher/web_browser.h"
#include "install/installer.h"
#include "services/system_info.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CKrCommandLine;

struct KrLauncherPorts
{
    IKrWindowPort& window;
    IKrBrowserPort& browser;
    IKrRegistryPort& registry;
    IKrShellPort& shell;
    IKrFoldersPort& folders;
};

// What the Windows program never changes and tests or another host do.
struct KrLauncherOptions
{
    CKrInstallerSettings installer;
    // Empty: CKrSystemInfo::Gather.
    std::function<void(CKrSystemInfo&)> gatherSystemInfo;
    // Empty: the protocol keys in the registry. Otherwise the host's own registration, with
    // RegisterUrlProtocol's results.
    std::function<int(uint32_t& error)> registerProtocol;
    // A host that the Windows pre-launcher cannot restart never takes the self-update path.
    bool selfUpdate = true;
};

// The launcher's state beside its configuration.
struct KrLauncherState
{
    std::string launcherHash; // the login token; non-empty means logged in
    std::string lastAllowedUrl;
    bool installComplete = false;
    uint32_t completionTime = 0;
    bool launcherDataFailed = false;
    bool hover = false;
    bool pressed = false;
    bool languageError = false;
    std::string languageErrorText;
    bool requirementsMet = false;
    std::string failingRequirement;
    std::string requiredValue;
    std::string availableValue;
    uint32_t lastProgressDecile = 0;
    std::string storedUserName;
    bool formFilled = false;
    bool loginCaptured = false;
    bool hasTaskbar = false;
    KrLayout layout;
};

namespace kr::launcher
{
constexpr uint32_t kTimerMainWindow = 1;
constexpr uint32_t kTimerShow = 2;
constexpr uint32_t kTimerProgress = 3;
constexpr uint32_t kMainWindowDelayMs = 2500;
constexpr uint32_t kShowDelayMs = 250;
constexpr uint32_t kProgressPeriodMs = 1000;
// How long "installation completed" stays in the status area.
constexpr uint32_t kCompletedTextMs = 4000;
// How long the last metrics requests may take to go out at exit.
constexpr uint32_t kMetricsDrainMs = 3000;
// Web site domain whose first path segment names the page language.
constexpr const char* kWebSiteDomain = "quorvale.games/";
constexpr const char* kGameExecutable = "KelvaneRuntimeMMO.exe";
constexpr const char* kPreLauncherExecutable = "Quorvale.exe";
constexpr const char* kLauncherExecutable = "QuorvaleOnlineLauncher.exe";
constexpr const char* kLauncherPackage = "QuorvaleOnlineLauncher.zip";
constexpr const char* kLocalErrorPage = "ErrorPage\\general-error_no-twitter.html";

// Metrics events of the launcher.
constexpr uint32_t kEventStartedFromLink = 10001;
constexpr uint32_t kEventStartedDirectly = 10002;
constexpr uint32_t kEventLogin = 10003;
constexpr uint32_t kEventGameStart = 10004;
constexpr uint32_t kEventProgress = 10007;
constexpr uint32_t kEventProtocolRegistered = 10009;

// The server's ErrorPage format filled with three texts. False when the format holds anything but
// text conversions ("%s", at most three) and "%%", or when the result would reach 1024 bytes.
bool FormatErrorPage(const std::string& format, const std::string& a, const std::string& b,
                     const std::string& c, std::string& page);
} // namespace kr::launcher

class CKrLauncher : public CKrWebBrowser
{
public:
    CKrLauncher(const KrLauncherPorts& ports, KrLauncherOptions options = KrLauncherOptions());
    ~CKrLauncher() override;

    // Start-up, message loop, shutdown. Returns the quit message's wParam, or 0 when the window cannot
    // be created.
    uint32_t Run(const std::string& commandLine);
    // Run without its message loop: everything up to starting timer 1. False when the window cannot
    // be created.
    bool StartUp(const std::string& commandLine);
    // Stops the metrics collector (with a final flush), then the request sender.
    void ShutDown();

    // Window messages.
    void OnTimer(uint32_t id);
    void OnMouseMove(int32_t x, int32_t y);
    void OnLButtonDown(int32_t x, int32_t y);
    void OnLButtonUp(int32_t x, int32_t y);
    void OnDestroy();
    KrDisplayList Paint();

    // Flow.
    void ShowErrorPage(const std::string& text);
    void ShowServerPage(const std::string& a, const std::string& b, const std::string& c);
    void LoadLanguageData(const std::string& code);
    void ShowMainWindow();
    void StartGame();
    void CheckLauncherUpdate();

    // URL protocol and navigation. RegisterUrlProtocol returns 0 (registered now), 1 (already
    // registered) or 2 (failed, `error` holds the Win32 code).
    int RegisterUrlProtocol(uint32_t& error);
    bool IsUrlAllowed(const std::string& url) const;
    bool ReadStoredUser(std::string& name);
    void OnBeforeNavigate(const std::string& url) override;
    void OnNavigateComplete(const std::string& url) override;
    void OnDocumentComplete(const std::string& url) override;

    const CKrLauncherConfig& Config() const { return m_config; }
    CKrLauncherConfig& Config() { return m_config; }
    const KrLauncherState& State() const { return m_state; }
    CKrInstaller* Installer() const { return m_installer.get(); }
    const CKrSystemInfo& SystemInfo() const { return m_systemInfo; }

    // The command lines the launcher hands to other programs.
    static std::string GameCommandLine(const CKrLauncherConfig& config, const std::string& launcherHash);
    static std::string RestartCommandLine(const CKrLauncherConfig& config);

private:
    void Handshake();
    void CheckDiskRequirement();
    void StartInstaller();
    void OnShowTimer();
    void OnProgressTimer();
    std::string PageBase() const; // web server + "/" + language + "/"

    KrLauncherPorts m_ports;
    KrLauncherOptions m_options;
    CKrLauncherConfig m_config;
    KrLauncherState m_state;
    std::unique_ptr<CKrInstaller> m_installer;
    CKrSystemInfo m_systemInfo;
};
