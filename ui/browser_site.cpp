#include "ui/browser_site.h"

HRESULT STDMETHODCALLTYPE CKrBrowserSite::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IOleClientSite))
        *object = static_cast<IOleClientSite*>(this);
    else if (IsEqualIID(riid, IID_IOleInPlaceSite))
        *object = static_cast<IOleInPlaceSite*>(this);
    else if (IsEqualIID(riid, IID_IDocHostUIHandler))
        *object = static_cast<IDocHostUIHandler*>(this);
    else
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKrBrowserSite::GetWindow(HWND* window)
{
    if (!window)
        return E_POINTER;
    *window = *m_window;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKrBrowserSite::GetWindowContext(IOleInPlaceFrame** frame,
                                                           IOleInPlaceUIWindow** document, LPRECT, LPRECT,
                                                           LPOLEINPLACEFRAMEINFO info)
{
    if (frame)
        *frame = static_cast<IOleInPlaceFrame*>(this);
    if (document)
        *document = nullptr;
    if (info)
    {
        info->cb = sizeof(OLEINPLACEFRAMEINFO);
        info->fMDIApp = FALSE;
        info->hwndFrame = *m_window;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKrBrowserSite::OnPosRectChange(LPCRECT position)
{
    IOleObject* browser = m_browser ? *m_browser : nullptr;
    IOleInPlaceObject* inPlace = nullptr;
    if (browser && position &&
        SUCCEEDED(browser->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace))) &&
        inPlace)
    {
        inPlace->SetObjectRects(position, position);
        inPlace->Release();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKrBrowserSite::GetContainer(IOleContainer** container)
{
    if (container)
        *container = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE CKrBrowserSite::GetHostInfo(DOCHOSTUIINFO* info)
{
    if (!info)
        return E_POINTER;
    info->cbSize = sizeof(DOCHOSTUIINFO);
    info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKrBrowserSite::GetExternal(IDispatch** external)
{
    if (external)
        *external = nullptr;
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE CKrBrowserSite::TranslateUrl(DWORD, LPWSTR, LPWSTR* translated)
{
    if (translated)
        *translated = nullptr;
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE CKrBrowserSite::FilterDataObject(IDataObject*, IDataObject** result)
{
    if (result)
        *result = nullptr;
    return S_FALSE;
}
