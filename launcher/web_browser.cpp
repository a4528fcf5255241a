#include "launcher/web_browser.h"

#include "launcher/ports.h"
#include "services/text_convert.h"

bool CKrWebBrowser::CreateBrowser()
{
    m_created = true;
    m_embedded = m_port.Create(*this);
    if (m_embedded)
        m_port.Resize();
    return true;
}

void CKrWebBrowser::Navigate(const std::string& url)
{
    if (m_embedded)
        m_port.Navigate(url);
}

void CKrWebBrowser::StopBrowser()
{
    if (m_embedded)
        m_port.Stop();
}

void CKrWebBrowser::ResizeBrowser()
{
    if (m_embedded)
        m_port.Resize();
}

bool CKrWebBrowser::GetInputValue(const std::string& name, std::string& value)
{
    std::u16string wide;
    if (!m_embedded || !m_port.GetInputValue(name, wide))
        return false;
    value = ToNarrow(wide);
    return true;
}

bool CKrWebBrowser::SetInputValue(const std::string& name, const std::u16string& value)
{
    return m_embedded && m_port.SetInputValue(name, value);
}

bool CKrWebBrowser::FocusElement(const std::string& name)
{
    return m_embedded && m_port.FocusElement(name);
}
