#pragma once
// Receives the WebBrowser control's DWebBrowserEvents2 and turns the navigation events into calls of
// the launcher's CKrWebBrowser callbacks, with URLs as 8-bit text.
#include <windows.h>

#include <ole2.h>

#include <exdisp.h>

#include <string>

class CKrWebBrowser;

// DISPIDs of the events the sink acts on.
constexpr DISPID kKrBeforeNavigate2 = 250;
constexpr DISPID kKrNavigateComplete2 = 252;
constexpr DISPID kKrOnQuit = 253;
constexpr DISPID kKrDocumentComplete = 259;
constexpr DISPID kKrNavigateError = 271;
constexpr DISPID kKrErrorEvent = -608;

// COM interfaces have no virtual destructor by design; these objects are only ever deleted through
// their own type.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

class CKrBrowserEvents final : public IDispatch
{
public:
    CKrBrowserEvents() = default;
    CKrBrowserEvents(const CKrBrowserEvents&) = delete;
    CKrBrowserEvents& operator=(const CKrBrowserEvents&) = delete;
    ~CKrBrowserEvents() = default;

    // Advises the control's connection point; keeps one reference to `browser` while connected.
    // Events reach `target` from then on.
    HRESULT Connect(IWebBrowser2* browser, CKrWebBrowser* target);
    // Unadvises and lets go of the control and the target (as OnQuit does).
    void Disconnect();
    bool Connected() const { return m_browser != nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override;

    // For tests: the target without connecting a control.
    void SetTarget(CKrWebBrowser* target) { m_target = target; }

private:
    HRESULT Advise(IWebBrowser2* browser);
    void Unadvise();
    void BeforeNavigate(DISPPARAMS& params);
    void NavigateComplete(DISPPARAMS& params);
    void DocumentComplete(DISPPARAMS& params);
    void HideScrollBars();

    CKrWebBrowser* m_target = nullptr;
    IWebBrowser2* m_browser = nullptr;
    DWORD m_cookie = 0;
    // The frame of the last NavigateComplete2, compared by identity only (no reference held).
    IDispatch* m_topFrame = nullptr;
    std::string m_lastUrl;
};

#pragma GCC diagnostic pop
