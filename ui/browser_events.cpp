#include "ui/browser_events.h"

#include "launcher/web_browser.h"
#include "ui/browser_url.h"

#include <mshtml.h>

namespace {

// DWebBrowserEvents2
const IID kEventsIid = {0x34A715A0, 0x6587, 0x11D0, {0x92, 0x4A, 0x00, 0x20, 0xAF, 0xC7, 0xAC, 0x4D}};

// Arguments arrive in reverse order: argument n of a signature with `count` parameters.
VARIANT* Argument(DISPPARAMS& params, UINT count, UINT n)
{
    if (params.cArgs < count || !params.rgvarg || n >= count)
        return nullptr;
    return &params.rgvarg[count - 1 - n];
}

VARIANT* Deref(VARIANT* v)
{
    while (v && V_VT(v) == (VT_BYREF | VT_VARIANT))
        v = V_VARIANTREF(v);
    return v;
}

// The URL argument; false when it is missing or too long for the launcher's buffers.
bool UrlArgument(VARIANT* arg, std::string& url)
{
    VARIANT* v = Deref(arg);
    if (!v)
        return false;
    if (V_VT(v) == VT_BSTR)
        return NarrowUrl(V_BSTR(v), SysStringLen(V_BSTR(v)), url);
    url.clear();
    return true;
}

IDispatch* DispatchArgument(VARIANT* arg)
{
    VARIANT* v = Deref(arg);
    if (!v)
        return nullptr;
    if (V_VT(v) == VT_DISPATCH)
        return V_DISPATCH(v);
    if (V_VT(v) == (VT_BYREF | VT_DISPATCH) && V_DISPATCHREF(v))
        return *V_DISPATCHREF(v);
    return nullptr;
}

template <typename T> void ReleaseAll(T*& p)
{
    if (p)
        p->Release();
    p = nullptr;
}

} // namespace

HRESULT CKrBrowserEvents::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch))
    {
        *object = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT CKrBrowserEvents::Advise(IWebBrowser2* browser)
{
    if (!browser)
        return E_INVALIDARG;
    IConnectionPointContainer* container = nullptr;
    HRESULT hr = browser->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr) || !container)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    IConnectionPoint* point = nullptr;
    hr = container->FindConnectionPoint(kEventsIid, &point);
    container->Release();
    if (FAILED(hr) || !point)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = point->Advise(static_cast<IDispatch*>(this), &m_cookie);
    point->Release();
    return hr;
}

void CKrBrowserEvents::Unadvise()
{
    if (!m_browser)
        return;
    IConnectionPointContainer* container = nullptr;
    if (FAILED(
            m_browser->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))) ||
        !container)
        return;
    IConnectionPoint* point = nullptr;
    if (SUCCEEDED(container->FindConnectionPoint(kEventsIid, &point)) && point)
    {
        point->Unadvise(m_cookie);
        point->Release();
    }
    container->Release();
}

HRESULT CKrBrowserEvents::Connect(IWebBrowser2* browser, CKrWebBrowser* target)
{
    Disconnect();
    m_target = target;
    HRESULT hr = Advise(browser);
    if (FAILED(hr))
        return hr;
    m_browser = browser;
    m_browser->AddRef();
    return S_OK;
}

void CKrBrowserEvents::Disconnect()
{
    Unadvise();
    ReleaseAll(m_browser);
    m_cookie = 0;
    m_target = nullptr;
    m_topFrame = nullptr;
}

HRESULT CKrBrowserEvents::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO*, UINT*)
{
    if (result)
        VariantInit(result);
    if (!params)
        return E_INVALIDARG;
    switch (id)
    {
    case kKrBeforeNavigate2:
        BeforeNavigate(*params);
        break;
    case kKrNavigateComplete2:
        NavigateComplete(*params);
        break;
    case kKrOnQuit:
        Disconnect();
        break;
    case kKrDocumentComplete:
        DocumentComplete(*params);
        break;
    case kKrNavigateError:
        if (m_target)
            m_target->OnNavigateError(m_lastUrl);
        break;
    case kKrErrorEvent:
        if (m_target)
            m_target->OnNavigateError("");
        break;
    default:
        break;
    }
    return S_OK;
}

void CKrBrowserEvents::BeforeNavigate(DISPPARAMS& params)
{
    std::string url;
    if (!UrlArgument(Argument(params, 7, 1), url))
    {
        // Too long for the launcher to check: the navigation does not happen.
        VARIANT* cancel = Argument(params, 7, 6);
        if (cancel && V_VT(cancel) == (VT_BYREF | VT_BOOL) && V_BOOLREF(cancel))
            *V_BOOLREF(cancel) = VARIANT_TRUE;
        m_lastUrl.clear();
        return;
    }
    m_lastUrl = url;
    if (m_target)
        m_target->OnBeforeNavigate(url);
}

void CKrBrowserEvents::NavigateComplete(DISPPARAMS& params)
{
    std::string url;
    if (UrlArgument(Argument(params, 2, 1), url) && m_target)
        m_target->OnNavigateComplete(url);
    m_topFrame = DispatchArgument(Argument(params, 2, 0));
}

void CKrBrowserEvents::DocumentComplete(DISPPARAMS& params)
{
    IDispatch* frame = DispatchArgument(Argument(params, 2, 0));
    if (!m_topFrame || frame != m_topFrame)
        return;
    std::string url;
    if (UrlArgument(Argument(params, 2, 1), url) && m_target)
        m_target->OnDocumentComplete(url);
    HideScrollBars();
}

void CKrBrowserEvents::HideScrollBars()
{
    // The callback may have quit the browser.
    if (!m_topFrame)
        return;
    IWebBrowser2* frame = nullptr;
    IDispatch* documentDispatch = nullptr;
    IHTMLDocument2* document = nullptr;
    IHTMLElement* body = nullptr;
    IHTMLBodyElement* bodyElement = nullptr;
    if (SUCCEEDED(m_topFrame->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&frame))) && frame &&
        SUCCEEDED(frame->get_Document(&documentDispatch)) && documentDispatch &&
        SUCCEEDED(
            documentDispatch->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&document))) &&
        document && SUCCEEDED(document->get_body(&body)) && body &&
        SUCCEEDED(body->QueryInterface(IID_IHTMLBodyElement, reinterpret_cast<void**>(&bodyElement))) &&
        bodyElement)
    {
        BSTR no = SysAllocString(L"no");
        if (no)
        {
            bodyElement->put_scroll(no);
            SysFreeString(no);
        }
    }
    ReleaseAll(bodyElement);
    ReleaseAll(body);
    ReleaseAll(document);
    ReleaseAll(documentDispatch);
    ReleaseAll(frame);
}
