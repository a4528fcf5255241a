// The URL protocol, the URL white list and the commands carried in the web interface's URLs.
#include "launcher/launcher.h"

#include "launcher/launcher_events.h"
#include "launcher/string_utils.h"
#include "services/metrics.h"
#include "services/text_convert.h"

using namespace kr::launcher;

namespace
{

constexpr size_t kStoredUserMaxChars = 255;

} // namespace

int CKrLauncher::RegisterUrlProtocol(uint32_t& error)
{
    error = kKrErrorSuccess;
    if (m_options.registerProtocol)
        return m_options.registerProtocol(error);
    if (m_config.preLauncherPath.empty())
        return 2;
    IKrRegistryPort& registry = m_ports.registry;
    // An existing registration is never changed, even when the pre-launcher moved.
    if (registry.OpenKey(kProtocolKey, IKrRegistryPort::Access::QueryAndSet) == kKrErrorSuccess)
        return 1;

    const std::string preLauncher = "\"" + m_config.preLauncherPath + kPreLauncherExecutable + "\"";
    const std::string iconKey = std::string(kProtocolKey) + "\\DefaultIcon";
    const std::string commandKey = std::string(kProtocolKey) + "\\shell\\open\\command";
    // The first failing call ends the registration.
    auto failed = [&error](uint32_t result)
    {
        error = result;
        return result != kKrErrorSuccess;
    };
    if (failed(registry.CreateKey(kProtocolKey)) ||
        failed(registry.WriteString(kProtocolKey, "", "URL:Quorvale Online Protocol")) ||
        failed(registry.WriteString(kProtocolKey, "URL Protocol", "")) || failed(registry.CreateKey(iconKey)) ||
        failed(registry.WriteString(iconKey, "", preLauncher + ",0")) || failed(registry.CreateKey(commandKey)) ||
        failed(registry.WriteString(commandKey, "", preLauncher + " -uri=%1")))
        return 2;
    return 0;
}

bool CKrLauncher::IsUrlAllowed(const std::string& url) const
{
    // The local error page and other files of the installation.
    if (url.find(m_config.projectPath) != std::string::npos)
        return true;
    for (const auto& entry : m_config.urlWhiteList)
    {
        size_t first = url.find(entry[0]);
        if (first == std::string::npos)
            continue;
        if (entry.size() == 1 || url.find(entry[1], first) != std::string::npos)
            return true;
    }
    return false;
}

bool CKrLauncher::ReadStoredUser(std::string& name)
{
    return m_ports.registry.ReadString(kUserSettingsKey, kUserNameValue, name, kStoredUserMaxChars) ==
           kKrErrorSuccess;
}

void CKrLauncher::OnBeforeNavigate(const std::string& url)
{
    if (!IsUrlAllowed(url))
    {
        m_ports.shell.OpenUrl(url);
        StopBrowser();
        Navigate(m_state.lastAllowedUrl);
        return;
    }
    if (m_state.formFilled && !m_state.loginCaptured)
    {
        std::string name;
        if (GetInputValue("username", name))
            m_state.storedUserName = name;
    }
    if (EndsWithFirstOccurrence(url, "/logout"))
    {
        m_config.sid.clear();
        m_state.launcherHash.clear();
        m_config.customerId = 0;
        m_state.formFilled = false;
        m_state.loginCaptured = false;
        m_ports.window.Invalidate();
    }
    if (EndsWithFirstOccurrence(url, "/close"))
        m_ports.window.PostQuit();
    m_state.lastAllowedUrl = url;
}

void CKrLauncher::OnNavigateComplete(const std::string& url)
{
    if (url.find("play?qvo=") != std::string::npos)
    {
        if (!m_state.storedUserName.empty() &&
            m_ports.registry.CreateKey(kUserSettingsKey) == kKrErrorSuccess)
            m_ports.registry.WriteString(kUserSettingsKey, kUserNameValue, m_state.storedUserName);
        m_state.loginCaptured = true;
        GetUrlParameter("qvo", url, m_state.launcherHash);
        std::string customerId;
        uint32_t parsed = 0;
        // Anything but a plain 32-bit decimal keeps the customer id the launcher has.
        if (GetUrlParameter("customer_id", url, customerId) && ParseUnsigned32(customerId, parsed))
            m_config.customerId = parsed;
        GetUrlParameter("sid", url, m_config.sid);
        if (m_config.customerId != 0 && !m_state.launcherHash.empty())
        {
            StartMetrics(m_config.customerId, m_state.launcherHash);
            QueueLauncherEvent(m_config.startedFromLink ? kEventStartedFromLink : kEventStartedDirectly);
            QueueLoginEvent();
        }
    }

    const size_t domain = url.find(kWebSiteDomain);
    if (domain != std::string::npos)
    {
        const std::string candidate = url.substr(domain + std::char_traits<char>::length(kWebSiteDomain), 2);
        for (const std::string& language : m_config.availableLanguages)
        {
            if (language == candidate)
            {
                m_config.languageCode = language;
                LoadLanguageData(language);
                break;
            }
        }
    }
}

void CKrLauncher::OnDocumentComplete(const std::string& url)
{
    (void)url;
    if (!m_state.formFilled)
    {
        std::string name;
        if (!ReadStoredUser(name))
        {
            // Nothing to fill in.
            m_state.formFilled = true;
        }
        else if (SetInputValue("username", ToWide(name)))
        {
            FocusElement("password");
            m_state.formFilled = true;
        }
    }
    m_ports.window.Invalidate();
}
