#include "launcher/launcher_config.h"

#include "launcher/command_line.h"
#include "launcher/ports.h"
#include "launcher/string_utils.h"
#include "services/http_request.h"

#include <cctype>

#ifndef KR_LAUNCHER_SERVER
#error "KR_LAUNCHER_SERVER must come from the build"
#endif

namespace kr::launcher
{
const char* const kDefaultLauncherServer = KR_LAUNCHER_SERVER;

std::string ProductFolderName()
{
    return RemoveBlanks(kWindowTitle);
}
} // namespace kr::launcher

namespace
{

const char* const kLabelKeys[kLabelCount] = {
    "LABEL_INSTALL_INIT",           "LABEL_INSTALL_UPDATE_INIT",
    "LABEL_INSTALL_PROGRESS",       "LABEL_INSTALL_UPDATE_PROGRESS",
    "LABEL_INSTALLATION_COMPLETED", "LABEL_PLAY",
    "LABEL_LAUNCHER_UPDATE_TITLE",  "LABEL_LAUNCHER_UPDATE_TEXT",
};

void SetLabel(CKrVariant& label, const std::string& utf8)
{
    label = CKrVariant();
    label.SetCodePage(kr::launcher::kUtf8CodePage);
    label.SetType(CKrVariant::kWideString);
    label.SetString(utf8);
}

// A POSIX host hands out absolute paths that start with "/"; Windows paths start with a drive or
// "\\\\", so the Windows program always keeps the backslash.
char SeparatorOf(const std::string& path)
{
    return !path.empty() && path[0] == '/' ? '/' : '\\';
}

bool IsPlainDirectory(IKrFoldersPort& folders, const std::string& path)
{
    // Exactly the directory bit: a directory with any further attribute does not count.
    return folders.FileAttributes(path) == kKrAttributeDirectory;
}

} // namespace

const char* KrLabelKey(int label)
{
    return label >= 0 && label < kLabelCount ? kLabelKeys[label] : "";
}

uint32_t KrParseCustomerId(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    {
        value = value * 10 + (text[i] - '0');
        // Beyond the signed 32-bit range strtol would saturate: an id that belongs to nobody.
        if (value > 0x7FFFFFFF)
            return 0;
    }
    // A negative number would wrap to another customer's id.
    return negative ? 0 : static_cast<uint32_t>(value);
}

CKrLauncherConfig::CKrLauncherConfig() : launcherServer(kr::launcher::kDefaultLauncherServer)
{
    for (auto& label : labels)
        SetLabel(label, "");
    SetLabel(labels[kLabelLauncherUpdateTitle], "Quorvale Launcher Update");
    SetLabel(labels[kLabelLauncherUpdateText],
             "Quorvale Launcher has been updated click ok to apply changes");
}

void CKrLauncherConfig::SetProjectPath(const std::string& path)
{
    projectPath = path;
    // A path given without its separator would glue "Data" onto the folder's own name.
    if (!projectPath.empty() && projectPath.back() != '\\' && projectPath.back() != '/')
        projectPath += SeparatorOf(projectPath);
    dataPath = projectPath + "Data" + SeparatorOf(projectPath);
}

uint32_t KrParseDownloadLimit(const char* text)
{
    // Digits only; anything else, or a value past 4 GB/s, is no limit rather than a guess.
    uint64_t value = 0;
    if (!*text)
        return 0;
    for (const char* p = text; *p; ++p)
    {
        if (*p < '0' || *p > '9')
            return 0;
        value = value * 10 + static_cast<uint64_t>(*p - '0');
        if (value > 4194304)
            return 0;
    }
    return static_cast<uint32_t>(value);
}

bool CKrLauncherConfig::ApplyCommandLine(const CKrCommandLine& commandLine, IKrFoldersPort& folders)
{
    if (const char* value = commandLine.GetValue("sid"))
        sid = value;
    if (const char* value = commandLine.GetValue("LauncherServer"))
        launcherServer = value;
    if (const char* value = commandLine.GetValue("PreLauncherPath"))
        preLauncherPath = value;
    if (const char* value = commandLine.GetValue("ProjectPath"))
    {
        std::string longPath;
        // A path that does not exist yet has no long form; it is taken as given.
        SetProjectPath(*value && folders.LongPathName(value, longPath) ? longPath : std::string(value));
    }
    if (const char* value = commandLine.GetValue("ProjectUserDataPath"))
        userDataPath = value;
    if (const char* value = commandLine.GetValue("customer_id"))
        customerId = KrParseCustomerId(value);
    if (const char* value = commandLine.GetValue("DownloadLimitKB"))
        downloadLimitKB = KrParseDownloadLimit(value);
    if (const char* value = commandLine.GetValue("VerifyInstall"))
        verifyInstall = std::string(value) == "1";
    if (commandLine.Has("diskSizeError"))
        diskSizeError = true;
    bool languageGiven = false;
    if (const char* value = commandLine.GetValue("language_code"))
    {
        languageCode = value;
        languageGiven = true;
    }
    if (commandLine.Has("uriStart") || (commandLine.Has("sid") && !commandLine.Has("RestartLauncher")))
        startedFromLink = true;
    return languageGiven;
}

void CKrLauncherConfig::ApplyPreLauncherRule(IKrFoldersPort& folders)
{
    std::string path = folders.ProgramFilesFolder() + kr::launcher::kPreLauncherFolder;
    if (IsPlainDirectory(folders, path))
        preLauncherPath = path;
}

void CKrLauncherConfig::ResolveDefaultPaths(IKrFoldersPort& folders)
{
    std::string shared;
    std::string user;
    folders.DataFolders(shared, user);
    const std::string name = kr::launcher::ProductFolderName();
    const char userSeparator = SeparatorOf(user);
    const char sharedSeparator = SeparatorOf(shared);
    const std::string userBase = user + userSeparator + name + userSeparator;
    const std::string sharedBase = shared + sharedSeparator + name + sharedSeparator;

    auto allExist = [&]()
    {
        return IsPlainDirectory(folders, projectPath) && IsPlainDirectory(folders, dataPath) &&
               IsPlainDirectory(folders, userDataPath);
    };

    userDataPath = userBase;
    SetProjectPath(userBase);
    if (allExist())
        return;
    SetProjectPath(sharedBase);
    if (allExist())
        return;

    uint32_t error = folders.MakeDirectory(projectPath);
    if (error != kKrErrorSuccess && error != kKrErrorAlreadyExists)
    {
        SetProjectPath(userBase);
        folders.MakeDirectory(projectPath);
    }
    folders.MakeDirectory(dataPath);
    folders.MakeDirectory(userDataPath);
}

void CKrLauncherConfig::TakeStatus(const CKrHttpRequest& answer)
{
    if (answer.GetInt("status") == 0)
    {
        serverError = true;
        serverErrorText = answer.GetString("Error");
    }
}

void CKrLauncherConfig::ApplySettings(const CKrHttpRequest& answer)
{
    TakeStatus(answer);
    webServer = answer.GetString("HttpServer");
    errorPageFormat = answer.GetString("ErrorPage");
    // A window without area cannot show the web interface; such a size keeps the default.
    if (answer.HasKey("LauncherWindowWidth") && answer.GetInt("LauncherWindowWidth") > 0)
        mainWidth = answer.GetInt("LauncherWindowWidth");
    if (answer.HasKey("LauncherWindowHeight") && answer.GetInt("LauncherWindowHeight") > 0)
        mainHeight = answer.GetInt("LauncherWindowHeight");
    minimumScreenWidth = answer.GetInt("MinimumScreenWidth");
    minimumScreenHeight = answer.GetInt("MinimumScreenHeight");
    minimumFreeRamMb = answer.GetInt("MinimumFreeRamMb");
    minimumDiscMemory = answer.GetInt("MinimumDiscMemory");
    if (languageCode.empty())
        languageCode = answer.GetString("Language");
    studioLanguageCode = std::to_string(answer.GetInt("StudioLanguageCode"));
    availableLanguages = Split(answer.GetString("AvailableLanguages"), ",");

    urlWhiteList.clear();
    urlWhiteList.push_back({webServer});
    for (const std::string& item : Split(answer.GetString("WhiteListURL"), ","))
    {
        std::vector<std::string> parts = Split(item, "*");
        // An item made only of "*" has no part to look for.
        if (!parts.empty())
            urlWhiteList.push_back(std::move(parts));
    }
}

void CKrLauncherConfig::ApplyDownloadSettings(const CKrHttpRequest& answer)
{
    TakeStatus(answer);
    downloadServer = answer.GetString("DownloadServer");
}

void CKrLauncherConfig::ApplyLanguageTexts(const CKrHttpRequest& answer)
{
    for (int i = 0; i < kLabelCount; ++i)
        SetLabel(labels[i], answer.GetString(kLabelKeys[i]));
    labels[kLabelPlay].MakeUpper();
    studioLanguageCode = answer.GetString("StudioLanguageCode");
}

std::string CKrLauncherConfig::PageLanguage() const
{
    return languageCode.empty() ? std::string("en") : languageCode;
}
