#pragma once
#include "services/variant.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class CKrCommandLine;
class CKrHttpRequest;
class IKrFoldersPort;

// Texts and numbers the launcher is built with.
namespace kr::launcher
{
extern const char* const kDefaultLauncherServer; // the build's KR_LAUNCHER_SERVER
constexpr uint32_t kLauncherVersion = 1000;
constexpr int32_t kDefaultMainWidth = 1024;
constexpr int32_t kDefaultMainHeight = 650;
constexpr const char* kWindowTitle = "Quorvale Online";
constexpr const char* kPreLauncherFolder = "\\Vintrell\\Quorvale\\";
constexpr const char* kUserSettingsKey = "Software\\Vintrell\\quorvaleonline";
constexpr const char* kUserNameValue = "user";
constexpr const char* kProtocolKey = "Software\\Classes\\quorvaleonline";
constexpr uint32_t kUtf8CodePage = 65001;
// "Quorvale Online" without its blanks.
std::string ProductFolderName();
} // namespace kr::launcher

// The launcher's labels, in the order the launcher keeps them.
enum KrLabel : int
{
    kLabelInstallInit = 0,
    kLabelInstallUpdateInit,
    kLabelInstallProgress,
    kLabelInstallUpdateProgress,
    kLabelInstallationCompleted,
    kLabelPlay,
    kLabelLauncherUpdateTitle,
    kLabelLauncherUpdateText,
    kLabelCount
};
// The language document's key of a label ("LABEL_PLAY", ...).
const char* KrLabelKey(int label);

// The launcher's configuration: command line, compiled-in defaults, Windows folders and the launcher
// server's settings, download and language documents. The launcher object holds one and its flow
// reads the fields; nothing here talks to the network or the operating system except through the
// folders port.
// The value of -DownloadLimitKB: 0 (no limit) for anything but a plain number up to 4194304.
uint32_t KrParseDownloadLimit(const char* text);

class CKrLauncherConfig
{
public:
    CKrLauncherConfig();

    // The command-line options, in the launcher's order. Returns true when a language code was given
    // (the language texts are then loaded at once).
    bool ApplyCommandLine(const CKrCommandLine& commandLine, IKrFoldersPort& folders);
    // An existing "<Program Files>\Vintrell\Quorvale\" (attributes exactly "directory") becomes the
    // pre-launcher path, whatever the command line said.
    void ApplyPreLauncherRule(IKrFoldersPort& folders);
    // Project, data and user data paths when no project path was given: an installation under the
    // user folder, else under the shared folder, else a new one (shared folder when it can be created).
    void ResolveDefaultPaths(IKrFoldersPort& folders);

    // The launcher data answer ("/launcher/data/"). The settings are applied even when it reports an
    // error.
    void ApplySettings(const CKrHttpRequest& answer);
    // The download data answer ("/launcher/download_data/").
    void ApplyDownloadSettings(const CKrHttpRequest& answer);
    // The eight labels and the studio language code of a language answer; LABEL_PLAY upper-cased.
    void ApplyLanguageTexts(const CKrHttpRequest& answer);

    // Language code of page URLs: the player's language, "en" when there is none.
    std::string PageLanguage() const;

    // Takes a project path: trailing separator ensured, data path derived.
    void SetProjectPath(const std::string& path);

    // Command line.
    std::string sid;
    std::string launcherServer;
    std::string preLauncherPath;
    std::string projectPath; // ends with a backslash ("/" on a POSIX host)
    std::string dataPath;    // project path + "Data" + the same separator
    std::string userDataPath;
    uint32_t customerId = 0;
    bool diskSizeError = false;
    // -DownloadLimitKB=N: kilobytes per second for all downloads together; 0 is no limit.
    uint32_t downloadLimitKB = 0;
    // -VerifyInstall=1: a signed release's installed files are hashed and those that differ fetched.
    bool verifyInstall = false;
    std::string languageCode;
    bool startedFromLink = false;

    // Launcher server settings.
    bool serverError = false;
    std::string serverErrorText;
    std::string webServer;
    std::string errorPageFormat;
    int32_t mainWidth = kr::launcher::kDefaultMainWidth;
    int32_t mainHeight = kr::launcher::kDefaultMainHeight;
    int32_t minimumScreenWidth = 0;
    int32_t minimumScreenHeight = 0;
    int32_t minimumFreeRamMb = 0;
    int32_t minimumDiscMemory = 0;
    std::string studioLanguageCode;
    std::vector<std::string> availableLanguages;
    // First entry the web server alone, then one entry per white-list item, split at "*"; no entry
    // is ever without parts.
    std::vector<std::vector<std::string>> urlWhiteList;
    std::string downloadServer;

    // Wide text, code page 65001.
    std::array<CKrVariant, kLabelCount> labels;

private:
    // status 0: the error flag and the Error text.
    void TakeStatus(const CKrHttpRequest& answer);
};

// customer_id of the command line: strtol with base 10 (leading white space, a sign, the digits up to
// the first other character); no digits, a negative value or one beyond 32-bit strtol's range gives 0.
uint32_t KrParseCustomerId(const std::string& text);
