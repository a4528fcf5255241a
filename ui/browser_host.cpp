#include "ui/browser_host.h"

#include "services/text_convert.h"
#include "ui/browser_events.h"
#include "ui/browser_site.h"
#include "ui/browser_url.h"

#include <exdisp.h>
#include <mshtml.h>

namespace {

const CLSID kWebBrowserClsid = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};

// The launcher paints its status bar and play button in this strip below the browser.
constexpr LONG kBottomStrip = 48;

template <typename T> void ReleaseAll(T*& p)
{
    if (p)
        p->Release();
    p = nullptr;
}

class Bstr
{
public:
    explicit Bstr(const std::u16string& text)
        : m_value(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                    static_cast<UINT>(text.size())))
    {
    }
    ~Bstr() { SysFreeString(m_value); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return m_value; }

private:
    BSTR m_value;
};

std::u16string FromBstr(BSTR text)
{
    if (!text)
        return {};
    return std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

IHTMLElement* AsElement(IDispatch* dispatch)
{
    IHTMLElement* element = nullptr;
    if (FAILED(dispatch->QueryInterface(IID_IHTMLElement, reinterpret_cast<void**>(&element))))
        return nullptr;
    return element;
}

bool HasId(IHTMLElement* element, const std::u16string& id)
{
    BSTR value = nullptr;
    bool same = SUCCEEDED(element->get_id(&value)) && FromBstr(value) == id;
    SysFreeString(value);
    return same;
}

// The first element of `all` whose id is exactly `id`, when several share the name.
IHTMLElement* FindInCollection(IHTMLElementCollection* all, const std::u16string& id)
{
    long length = 0;
    if (FAILED(all->get_length(&length)))
        return nullptr;
    for (long i = 0; i < length; ++i)
    {
        VARIANT index;
        VariantInit(&index);
        V_VT(&index) = VT_I4;
        V_I4(&index) = i;
        IDispatch* item = nullptr;
        if (FAILED(all->item(index, index, &item)) || !item)
            continue;
        IHTMLElement* element = AsElement(item);
        item->Release();
        if (element && HasId(element, id))
            return element;
        ReleaseAll(element);
    }
    return nullptr;
}

} // namespace

CKrBrowserHost::CKrBrowserHost() : m_events(new CKrBrowserEvents) {}

CKrBrowserHost::~CKrBrowserHost()
{
    Destroy();
}

void CKrBrowserHost::Destroy()
{
    m_events->Disconnect();
    if (m_browser)
    {
        m_browser->Close(OLECLOSE_NOSAVE);
        ReleaseAll(m_browser);
    }
}

void CKrBrowserHost::SetWindow(HWND window)
{
    m_window = window;
}

bool CKrBrowserHost::Create(CKrWebBrowser& events)
{
    if (m_browser)
        return true;
    if (!m_site)
    {
        m_storage.reset(new CKrBrowserStorage);
        m_site.reset(new CKrBrowserSite(&m_window, &m_browser));
    }
    IOleObject* browser = nullptr;
    if (FAILED(OleCreate(kWebBrowserClsid, IID_IOleObject, OLERENDER_DRAW, nullptr, m_site->ClientSite(),
                         m_storage.get(), reinterpret_cast<void**>(&browser))) ||
        !browser)
        return false;
    m_browser = browser;
    m_browser->SetHostNames(L"EmbedBrowserObject", nullptr);

    RECT rect{};
    GetClientRect(m_window, &rect);
    rect.bottom -= kBottomStrip;
    IWebBrowser2* web = nullptr;
    if (FAILED(OleSetContainedObject(m_browser, TRUE)) ||
        FAILED(m_browser->DoVerb(OLEIVERB_SHOW, nullptr, m_site->ClientSite(), -1, m_window, &rect)) ||
        !(web = WebBrowser()))
    {
        Destroy();
        return false;
    }
    web->put_Visible(VARIANT_TRUE);
    m_events->Connect(web, &events);
    web->Release();
    return true;
}

IWebBrowser2* CKrBrowserHost::WebBrowser() const
{
    IWebBrowser2* web = nullptr;
    if (!m_browser || FAILED(m_browser->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&web))))
        return nullptr;
    return web;
}

void CKrBrowserHost::Navigate(const std::string& url)
{
    std::u16string wide;
    if (!m_browser || !WidenUrl(url, wide))
        return;
    IWebBrowser2* web = WebBrowser();
    if (!web)
        return;
    Bstr address(wide);
    if (address.get())
    {
        VARIANT target;
        VariantInit(&target);
        V_VT(&target) = VT_BSTR;
        V_BSTR(&target) = address.get();
        VARIANT none;
        VariantInit(&none);
        web->Navigate2(&target, &none, &none, &none, &none);
    }
    web->Release();
}

void CKrBrowserHost::Stop()
{
    if (IWebBrowser2* web = WebBrowser())
    {
        web->Stop();
        web->Release();
    }
}

void CKrBrowserHost::Resize()
{
    IWebBrowser2* web = WebBrowser();
    if (!web)
        return;
    RECT rect{};
    GetClientRect(m_window, &rect);
    LONG height = rect.bottom - rect.top - kBottomStrip;
    web->put_Left(0);
    web->put_Top(0);
    web->put_Width(rect.right - rect.left);
    web->put_Height(height > 0 ? height : 0);
    web->Release();
}

IHTMLElement* CKrBrowserHost::ElementById(const std::string& id) const
{
    std::u16string wideId = ToWide(id);
    IWebBrowser2* web = WebBrowser();
    if (!web)
        return nullptr;
    IDispatch* documentDispatch = nullptr;
    IHTMLDocument2* document = nullptr;
    IHTMLElementCollection* all = nullptr;
    IDispatch* found = nullptr;
    IHTMLElement* element = nullptr;
    // Without a page engine the control answers S_FALSE with no document.
    if (SUCCEEDED(web->get_Document(&documentDispatch)) && documentDispatch &&
        SUCCEEDED(
            documentDispatch->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&document))) &&
        document && SUCCEEDED(document->get_all(&all)) && all)
    {
        Bstr name(wideId);
        VARIANT byName;
        VariantInit(&byName);
        V_VT(&byName) = VT_BSTR;
        V_BSTR(&byName) = name.get();
        VARIANT first;
        VariantInit(&first);
        V_VT(&first) = VT_I4;
        V_I4(&first) = 0;
        if (name.get() && SUCCEEDED(all->item(byName, first, &found)) && found)
        {
            IHTMLElementCollection* several = nullptr;
            if (SUCCEEDED(
                    found->QueryInterface(IID_IHTMLElementCollection, reinterpret_cast<void**>(&several))) &&
                several)
            {
                element = FindInCollection(several, wideId);
                several->Release();
            }
            else
            {
                element = AsElement(found);
            }
        }
    }
    ReleaseAll(found);
    ReleaseAll(all);
    ReleaseAll(document);
    ReleaseAll(documentDispatch);
    web->Release();
    return element;
}

bool CKrBrowserHost::GetInputValue(const std::string& name, std::u16string& value)
{
    IHTMLElement* element = ElementById(name);
    if (!element)
        return false;
    IHTMLInputElement* input = nullptr;
    bool found = false;
    if (SUCCEEDED(element->QueryInterface(IID_IHTMLInputElement, reinterpret_cast<void**>(&input))) && input)
    {
        BSTR text = nullptr;
        if (SUCCEEDED(input->get_value(&text)) && text && SysStringLen(text) > 0)
        {
            value = FromBstr(text);
            found = true;
        }
        SysFreeString(text);
        input->Release();
    }
    element->Release();
    return found;
}

bool CKrBrowserHost::SetInputValue(const std::string& name, const std::u16string& value)
{
    IHTMLElement* element = ElementById(name);
    if (!element)
        return false;
    IHTMLInputElement* input = nullptr;
    bool found = false;
    if (SUCCEEDED(element->QueryInterface(IID_IHTMLInputElement, reinterpret_cast<void**>(&input))) && input)
    {
        found = true;
        Bstr text(value);
        if (text.get())
            input->put_value(text.get());
        input->Release();
    }
    element->Release();
    return found;
}

bool CKrBrowserHost::FocusElement(const std::string& name)
{
    IHTMLElement* element = ElementById(name);
    if (!element)
        return false;
    IHTMLElement2* focusable = nullptr;
    bool found = false;
    if (SUCCEEDED(element->QueryInterface(IID_IHTMLElement2, reinterpret_cast<void**>(&focusable))) &&
        focusable)
    {
        found = true;
        focusable->focus();
        focusable->Release();
    }
    element->Release();
    return found;
}

void CKrBrowserHost::TranslateAccelerator(MSG& message)
{
    if (!m_browser || (message.message == WM_KEYDOWN && message.wParam == VK_BACK))
        return;
    IOleInPlaceActiveObject* active = nullptr;
    if (SUCCEEDED(
            m_browser->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&active))) &&
        active)
    {
        active->TranslateAccelerator(&message);
        active->Release();
    }
}
