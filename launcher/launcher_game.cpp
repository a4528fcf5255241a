// Game start and the launcher's own update.
#include "launcher/launcher.h"

#include "install/file.h"
#include "install/zip_file.h"
#include "launcher/launcher_events.h"
#include "launcher/server_requests.h"
#include "launcher/string_utils.h"
#include "services/http_request.h"

#include <zlib.h>

using namespace kr::launcher;

namespace
{

// CRC-32 of a whole file; false when it cannot be read.
bool FileCrc(const std::string& path, uint32_t& crc)
{
    CKrFile file;
    if (!file.Open(path, "rb"))
        return false;
    const int size = file.GetSize();
    uLong value = crc32(0L, Z_NULL, 0);
    std::vector<uint8_t> chunk(1 << 16);
    int total = 0;
    int got = 0;
    while ((got = file.Read(chunk.data(), 1, static_cast<int>(chunk.size()))) > 0)
    {
        value = crc32(value, chunk.data(), static_cast<uInt>(got));
        total += got;
    }
    file.Close();
    crc = static_cast<uint32_t>(value);
    // A read error shows as a short total.
    return size >= 0 && total == size;
}

} // namespace

std::string CKrLauncher::GameCommandLine(const CKrLauncherConfig& config, const std::string& launcherHash)
{
    return " -StudioLanguageCode=" + config.studioLanguageCode + " -Language=" + config.languageCode +
           " -NetworkLauncherHash=" + launcherHash + " -ProjectUserDataPath=" + config.userDataPath +
           " -NetworkLauncherServer=" + config.launcherServer + " -NetworkUserId=" +
           UnsignedToText(config.customerId);
}

std::string CKrLauncher::RestartCommandLine(const CKrLauncherConfig& config)
{
    std::string line = " -RestartLauncher=1";
    if (!config.launcherServer.empty())
        line += " -LauncherServer=" + config.launcherServer;
    if (!config.sid.empty())
        line += " -sid=" + config.sid;
    if (config.customerId != 0)
        line += " -customer_id=" + UnsignedToText(config.customerId);
    if (!config.languageCode.empty())
        line += " -language_code=" + config.languageCode;
    if (config.startedFromLink)
        line += " -uriStart=1";
    return line;
}

void CKrLauncher::StartGame()
{
    if (m_state.launcherHash.empty())
        return;
    CKrHttpRequest request;
    if (!PostGameData(request, m_config.launcherServer, m_state.launcherHash, m_config.customerId))
    {
        ShowErrorPage("");
        return;
    }
    if (request.GetInt("status") == 0)
    {
        ShowErrorPage(request.GetString("Error"));
        return;
    }
    const std::string gameHash = request.GetString("LauncherHash");
    m_config.customerId = static_cast<uint32_t>(request.GetUserId());
    m_ports.shell.StartProgram(kGameExecutable, GameCommandLine(m_config, gameHash), m_config.projectPath);
    QueueLauncherEvent(kEventGameStart);
    m_ports.window.PostQuit();
}

void CKrLauncher::CheckLauncherUpdate()
{
    if (!m_options.selfUpdate)
        return;
    const std::string package = m_config.projectPath + kLauncherPackage;
    CKrFile packageFile;
    if (!packageFile.Open(package, "rb"))
        return;
    packageFile.Close();

    // A package without a readable launcher entry, or a launcher that cannot be read, must never
    // start a restart loop.
    uint32_t packageCrc = CKrZipFile::GetZipEntryCrc(package, kLauncherExecutable);
    uint32_t executableCrc = 0;
    if (packageCrc == 0 || !FileCrc(m_config.projectPath + kLauncherExecutable, executableCrc))
        return;
    if (packageCrc == executableCrc)
        return;

    m_ports.window.ShowWideMessage(m_config.labels[kLabelLauncherUpdateText].AsWideText(),
                                   m_config.labels[kLabelLauncherUpdateTitle].AsWideText());
    m_ports.shell.StartProgram(kPreLauncherExecutable, RestartCommandLine(m_config), m_config.preLauncherPath);
    m_ports.window.PostQuit();
}
