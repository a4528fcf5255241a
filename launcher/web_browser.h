#pragma once
// The launcher's side of the embedded web browser: the four navigation events, which the browser host
// calls with the URL as 8-bit text, and the host operations the launcher uses. Without a created
// browser the operations do nothing and report false.
#include <string>

class IKrBrowserPort;

class CKrWebBrowser
{
public:
    explicit CKrWebBrowser(IKrBrowserPort& port) : m_port(port) {}
    virtual ~CKrWebBrowser() = default;
    CKrWebBrowser(const CKrWebBrowser&) = delete;
    CKrWebBrowser& operator=(const CKrWebBrowser&) = delete;

    virtual void OnBeforeNavigate(const std::string& url) { (void)url; }
    virtual void OnNavigateError(const std::string& url) { (void)url; }
    virtual void OnNavigateComplete(const std::string& url) { (void)url; }
    virtual void OnDocumentComplete(const std::string& url) { (void)url; }

    // Embeds the browser in the launcher window. Returns true in every case, as the launcher only
    // needs to know that creation was attempted; a failed embedding leaves the operations idle.
    bool CreateBrowser();
    void Navigate(const std::string& url);
    void StopBrowser();
    void ResizeBrowser();
    // Value of the form element `name` in the system code page.
    bool GetInputValue(const std::string& name, std::string& value);
    bool SetInputValue(const std::string& name, const std::u16string& value);
    bool FocusElement(const std::string& name);

protected:
    bool BrowserCreated() const { return m_created; }

private:
    IKrBrowserPort& m_port;
    bool m_created = false;
    bool m_embedded = false;
};
