#pragma once
// The launcher's browser port on Windows: the system's WebBrowser control embedded by OLE in-place
// activation into the launcher window. Every COM failure is silent; without an embedded control every
// operation does nothing and reports false.
#include "launcher/ports.h"

#include <windows.h>

#include <ole2.h>

#include <memory>
#include <string>

class CKrBrowserSite;
class CKrBrowserStorage;
class CKrBrowserEvents;
class CKrWebBrowser;
struct IHTMLElement;
struct IWebBrowser2;

class CKrBrowserHost : public IKrBrowserPort
{
public:
    CKrBrowserHost();           // the thread has called OleInitialize already
    ~CKrBrowserHost() override; // closes (OLECLOSE_NOSAVE) and releases the control
    CKrBrowserHost(const CKrBrowserHost&) = delete;
    CKrBrowserHost& operator=(const CKrBrowserHost&) = delete;

    void SetWindow(HWND window);                    // the host window, before Create
    bool Create(CKrWebBrowser& events) override;    // false when embedding fails (no browser object)
    void Navigate(const std::string& url) override; // "" and over-long URLs do nothing
    void Stop() override;
    void Resize() override;
    bool GetInputValue(const std::string& name, std::u16string& value) override;
    bool SetInputValue(const std::string& name, const std::u16string& value) override;
    bool FocusElement(const std::string& name) override; // GetElementById, IHTMLElement2::focus
    // For the message loop: offers the message to the control's IOleInPlaceActiveObject. A key-down
    // of Backspace is kept from the control, so it never navigates back.
    void TranslateAccelerator(MSG& message);

    bool HasBrowser() const { return m_browser != nullptr; }

private:
    IWebBrowser2* WebBrowser() const; // a new reference, or null
    // The element with exactly this id (a new reference), or null.
    IHTMLElement* ElementById(const std::string& id) const;
    void Destroy();

    HWND m_window = nullptr;
    IOleObject* m_browser = nullptr;
    std::unique_ptr<CKrBrowserSite> m_site;
    std::unique_ptr<CKrBrowserStorage> m_storage;
    std::unique_ptr<CKrBrowserEvents> m_events;
};
