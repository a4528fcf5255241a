// Error pages, server pages and the language texts.
#include "launcher/launcher.h"

#include "install/file.h"
#include "launcher/server_requests.h"
#include "launcher/string_utils.h"
#include "services/http_request.h"

using namespace kr::launcher;

namespace kr::launcher
{

bool FormatErrorPage(const std::string& format, const std::string& a, const std::string& b,
                     const std::string& c, std::string& page)
{
    // Server text never reaches a printf-style formatter: only "%s" and "%%" are understood.
    const std::string* arguments[] = {&a, &b, &c};
    size_t used = 0;
    page.clear();
    for (size_t i = 0; i < format.size(); ++i)
    {
        if (format[i] != '%')
        {
            page += format[i];
            continue;
        }
        if (++i == format.size())
            return false;
        if (format[i] == '%')
            page += '%';
        else if (format[i] == 's' && used < 3)
            page += *arguments[used++];
        else
            return false;
        if (page.size() >= 1024)
            return false;
    }
    return page.size() < 1024;
}

} // namespace kr::launcher

void CKrLauncher::ShowErrorPage(const std::string& text)
{
    if (!text.empty() && !m_config.webServer.empty())
    {
        std::vector<std::string> parts = Split(text, "_");
        // More than three fields cannot fill the page format: the browser stays where it is.
        if (!parts.empty() && parts.size() <= 3)
        {
            parts.resize(3);
            ShowServerPage(parts[0], parts[1], parts[2]);
        }
        return;
    }

    const std::string localPage = m_config.projectPath + kLocalErrorPage;
    CKrFile page;
    if (page.Open(localPage, "rb"))
    {
        page.Close();
        Navigate(localPage);
        return;
    }
    std::string message = m_ports.window.SystemErrorText(kKrErrorHostDown);
    // A system without a text for the code would show an empty box.
    if (message.empty())
        message = "Error " + std::to_string(kKrErrorHostDown);
    m_ports.window.ShowMessage(message, "Error");
    m_ports.window.PostQuit();
}

void CKrLauncher::ShowServerPage(const std::string& a, const std::string& b, const std::string& c)
{
    std::string page;
    if (!FormatErrorPage(m_config.errorPageFormat, a, b, c, page))
    {
        ShowErrorPage("");
        return;
    }
    Navigate(PageBase() + page);
}

void CKrLauncher::LoadLanguageData(const std::string& code)
{
    if (code.empty())
        return;
    CKrHttpRequest request;
    if (!PostLanguageData(request, m_config.launcherServer, code))
    {
        ShowErrorPage("");
        return;
    }
    if (request.GetInt("status") == 0)
    {
        if (BrowserCreated())
        {
            ShowErrorPage(request.GetString("Error"));
            return;
        }
        // No browser yet: the error waits for the main window.
        m_state.languageError = true;
        m_state.languageErrorText = request.GetString("Error");
    }
    m_config.ApplyLanguageTexts(request);
}
