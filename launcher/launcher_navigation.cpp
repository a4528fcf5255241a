// The URL protocol, the URL white list and the commands carried in the web interface's URLs.
#include "launcher/launcher.h"

#include "launcher/launcher_events.h"
#include "launcher/string_utils.h"
#include "services/metrics.h"
#include "services/text_convert.h"

#include <cctype>

using namespace kr::launcher;

namespace
{

constexpr size_t kStoredUserMaxChars = 255;

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const std::string& text, size_t at, const std::string& part, size_t from, size_t count)
{
    if (at + count > text.size() || from + count > part.size())
        return false;
    for (size_t i = 0; i < count; ++i)
    {
        if (LowerAscii(text[at + i]) != LowerAscii(part[from + i]))
            return false;
    }
    return true;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    return EqualNoCase(text, 0, prefix, 0, prefix.size());
}

bool IsWebUrl(const std::string& url)
{
    return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

// Where `part` ends when the URL, from `at` on, begins with it and it ends at a boundary of the URL
// (its end, or a "/", "?" or "#" behind it, unless the part ends in "/" itself); npos otherwise. The
// scheme and host ignore case, the path does not.
size_t MatchUrlPrefix(const std::string& url, size_t at, const std::string& part)
{
    const size_t scheme = part.find("://");
    const size_t hostBegin = scheme == std::string::npos ? 0 : scheme + 3;
    size_t hostEnd = part.find_first_of("/?#", hostBegin);
    if (hostEnd == std::string::npos)
        hostEnd = part.size();
    if (!EqualNoCase(url, at, part, 0, hostEnd) || url.compare(at + hostEnd, part.size() - hostEnd, part, hostEnd,
                                                               std::string::npos) != 0)
        return std::string::npos;
    const size_t end = at + part.size();
    if (part.back() == '/' || end == url.size() || std::string("/?#").find(url[end]) != std::string::npos)
        return end;
    return std::string::npos;
}

// A white-list entry: its first part anchored at the start of the URL (an entry without a scheme
// names the host of an http or https URL), its second part somewhere behind the first in the URL's
// path, never in its query or fragment. An empty first part allows nothing.
bool MatchesWhiteListEntry(const std::string& url, const std::vector<std::string>& entry)
{
    const std::string& first = entry[0];
    if (first.empty())
        return false;
    size_t end = std::string::npos;
    if (first.find("://") != std::string::npos)
        end = MatchUrlPrefix(url, 0, first);
    else if (IsWebUrl(url))
        end = MatchUrlPrefix(url, url.find("://") + 3, first);
    if (end == std::string::npos)
        return false;
    if (entry.size() == 1)
        return true;
    const std::string& second = entry[1];
    const size_t limit = url.find_first_of(second.find('?') == std::string::npos ? "?#" : "#", end);
    const size_t found = url.find(second, end);
    return found != std::string::npos && (limit == std::string::npos || found + second.size() <= limit);
}

std::string DecodePercent(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])))
        {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        }
        else
        {
            out += c;
        }
    }
    return out;
}

std::string WithSlashes(std::string path)
{
    for (char& c : path)
    {
        if (c == '\\')
            c = '/';
    }
    return path;
}

// The local path a URL names, with forward slashes: a file URL (file:///C:/x, file:///tmp/x,
// file://server/share/x) or a plain absolute path as the launcher navigates to its error page.
bool LocalPathOfUrl(const std::string& url, std::string& path)
{
    std::string rest;
    if (StartsWithNoCase(url, "file:"))
    {
        rest = url.substr(5);
        if (StartsWithNoCase(rest, "//localhost/"))
            rest = rest.substr(11);
        else if (rest.compare(0, 3, "///") == 0)
            rest = rest.substr(2);
        else if (rest.compare(0, 2, "//") != 0)
            return false;
        // file:///C:/x names the drive path C:/x.
        if (rest.size() >= 3 && rest[0] == '/' && std::isalpha(static_cast<unsigned char>(rest[1])) &&
            rest[2] == ':')
            rest = rest.substr(1);
        rest = DecodePercent(rest);
    }
    else if (url.size() >= 3 && std::isalpha(static_cast<unsigned char>(url[0])) && url[1] == ':' &&
             (url[2] == '\\' || url[2] == '/'))
    {
        rest = url;
    }
    else if (!url.empty() && (url[0] == '/' || url[0] == '\\'))
    {
        rest = url;
    }
    else
    {
        return false;
    }
    path = WithSlashes(rest);
    const size_t end = path.find_first_of("?#");
    if (end != std::string::npos)
        path.resize(end);
    return true;
}

// True when the path steps out of where it claims to be.
bool HasDotSegment(const std::string& path)
{
    for (const std::string& segment : Split(path, "/"))
    {
        if (segment == "." || segment == "..")
            return true;
    }
    return false;
}

// A file of the installation: a local path below the project path (ASCII case ignored, as the
// Windows file system does), without "." or ".." segments.
bool IsInstallationFile(const std::string& url, const std::string& projectPath)
{
    std::string path;
    if (projectPath.empty() || !LocalPathOfUrl(url, path) || HasDotSegment(path))
        return false;
    const std::string root = WithSlashes(projectPath);
    return root.back() == '/' && path.size() > root.size() && StartsWithNoCase(path, root);
}

// The language of a page of the web site: the two characters behind "<domain>/" when the domain ends
// the URL's host; "" otherwise.
std::string PageLanguageOf(const std::string& url)
{
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return std::string();
    const size_t hostEnd = url.find_first_of("/?#", scheme + 3);
    const std::string domain = kWebSiteDomain; // ends with "/"
    if (hostEnd == std::string::npos || url[hostEnd] != '/' || hostEnd + 1 < domain.size())
        return std::string();
    const size_t at = hostEnd + 1 - domain.size();
    if (at < scheme + 3 || !EqualNoCase(url, at, domain, 0, domain.size()) ||
        (at != scheme + 3 && url[at - 1] != '.'))
        return std::string();
    return url.substr(hostEnd + 1, 2);
}

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
    if (IsInstallationFile(url, m_config.projectPath))
        return true;
    for (const auto& entry : m_config.urlWhiteList)
    {
        if (!entry.empty() && MatchesWhiteListEntry(url, entry))
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
        // Any other scheme would hand the page a program or a handler of its choosing.
        if (IsWebUrl(url))
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
    // A token only from the game's own pages, never from a frame of some other site.
    if (url.find("play?qvo=") != std::string::npos && IsUrlAllowed(url))
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

    const std::string candidate = PageLanguageOf(url);
    // The page already shows the language in use: loading it again would, when that load fails, show an
    // error page of the same language and come back here for ever.
    if (!candidate.empty() && candidate != m_config.languageCode)
    {
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
