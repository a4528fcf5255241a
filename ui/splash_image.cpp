#include "ui/splash_image.h"

#include "ui/splash_format.h"

#include <objidl.h> // PROPID, which WIN32_LEAN_AND_MEAN leaves out

#include <gdiplus.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace gdip = Gdiplus::DllExports;

namespace {

// One GDI+ session for the whole process: started by the first load, ended with the last image.
struct GdiplusSession
{
    std::mutex lock;
    int images = 0;
    ULONG_PTR token = 0;

    ~GdiplusSession()
    {
        if (token)
            Gdiplus::GdiplusShutdown(token);
    }
};

GdiplusSession& Session()
{
    static GdiplusSession session;
    return session;
}

bool StartGdiplus()
{
    GdiplusSession& s = Session();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.token)
        return true;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        return false;
    s.token = token;
    return true;
}

struct ImageDeleter
{
    void operator()(Gdiplus::GpBitmap* bitmap) const { gdip::GdipDisposeImage(bitmap); }
};
using BitmapPtr = std::unique_ptr<Gdiplus::GpBitmap, ImageDeleter>;

// GDI limits a section's side well below this; larger sizes would overflow the pitch arithmetic.
constexpr UINT kMaxSide = 0x7FFF;

struct SectionInfo
{
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

} // namespace

SplashImage::SplashImage()
{
    GdiplusSession& s = Session();
    std::lock_guard<std::mutex> guard(s.lock);
    ++s.images;
}

SplashImage::~SplashImage()
{
    Clear();
    GdiplusSession& s = Session();
    std::lock_guard<std::mutex> guard(s.lock);
    if (--s.images == 0 && s.token)
    {
        Gdiplus::GdiplusShutdown(s.token);
        s.token = 0;
    }
}

void SplashImage::Clear()
{
    if (m_dc)
    {
        SelectObject(m_dc, m_oldBitmap);
        DeleteDC(m_dc);
        m_dc = nullptr;
        m_dcUses = 0;
    }
    if (m_bitmap)
        DeleteObject(m_bitmap);
    m_bitmap = nullptr;
    m_width = m_height = m_bpp = 0;
    m_hasAlpha = false;
}

HRESULT SplashImage::Load(const char* fileName)
{
    Clear();
    if (!fileName || !StartGdiplus())
        return E_FAIL;
    try
    {
        int chars = MultiByteToWideChar(CP_ACP, 0, fileName, -1, nullptr, 0);
        if (chars <= 0)
            return E_FAIL;
        std::wstring wideName(static_cast<size_t>(chars), L'\0');
        MultiByteToWideChar(CP_ACP, 0, fileName, -1, &wideName[0], chars);

        Gdiplus::GpBitmap* raw = nullptr;
        if (gdip::GdipCreateBitmapFromFile(wideName.c_str(), &raw) != Gdiplus::Ok || !raw)
            return E_FAIL;
        BitmapPtr source(raw);

        Gdiplus::PixelFormat sourceFormat = 0;
        UINT width = 0;
        UINT height = 0;
        if (gdip::GdipGetImagePixelFormat(source.get(), &sourceFormat) != Gdiplus::Ok ||
            gdip::GdipGetImageWidth(source.get(), &width) != Gdiplus::Ok ||
            gdip::GdipGetImageHeight(source.get(), &height) != Gdiplus::Ok || width == 0 || height == 0 ||
            width > kMaxSide || height > kMaxSide)
            return E_FAIL;

        std::vector<BYTE> paletteBytes;
        const Gdiplus::ColorPalette* palette = nullptr;
        if (sourceFormat & PixelFormatIndexed)
        {
            INT size = 0;
            if (gdip::GdipGetImagePaletteSize(source.get(), &size) != Gdiplus::Ok ||
                size < static_cast<INT>(sizeof(Gdiplus::ColorPalette)))
                return E_FAIL;
            paletteBytes.resize(static_cast<size_t>(size));
            auto* p = reinterpret_cast<Gdiplus::ColorPalette*>(paletteBytes.data());
            if (gdip::GdipGetImagePalette(source.get(), p, size) != Gdiplus::Ok)
                return E_FAIL;
            // The count must also fit the bytes GDI+ handed over.
            size_t room =
                (paletteBytes.size() - offsetof(Gdiplus::ColorPalette, Entries)) / sizeof(Gdiplus::ARGB);
            if (p->Count > room)
                return E_FAIL;
            palette = p;
        }
        KrSplashForm form = ChooseSplashForm(sourceFormat, palette ? palette->Count : 0);
        if (!form.usable)
            return E_FAIL;

        // A top-down section, so rows run in the same order as GDI+'s.
        SectionInfo info{};
        info.header.biSize = sizeof(BITMAPINFOHEADER);
        info.header.biWidth = static_cast<LONG>(width);
        info.header.biHeight = -static_cast<LONG>(height);
        info.header.biPlanes = 1;
        info.header.biBitCount = static_cast<WORD>(form.bpp);
        info.header.biCompression = BI_RGB;
        if (form.format == PixelFormat16bppRGB565)
        {
            info.header.biCompression = BI_BITFIELDS;
            DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
            std::memcpy(info.colors, masks, sizeof(masks));
        }
        else if (palette)
        {
            info.header.biClrUsed = palette->Count;
            for (UINT i = 0; i < palette->Count; ++i)
            {
                Gdiplus::ARGB c = palette->Entries[i];
                info.colors[i] =
                    RGBQUAD{static_cast<BYTE>(c), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c >> 16), 0};
            }
        }
        void* bits = nullptr;
        HBITMAP section = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                           &bits, nullptr, 0);
        if (!section || !bits)
        {
            if (section)
                DeleteObject(section);
            return E_OUTOFMEMORY;
        }

        // LockBits hands the pixels over in the stored format, converting when it differs.
        Gdiplus::GpRect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
        Gdiplus::BitmapData data{};
        if (gdip::GdipBitmapLockBits(source.get(), &all, Gdiplus::ImageLockModeRead, form.format, &data) !=
            Gdiplus::Ok)
        {
            DeleteObject(section);
            return E_FAIL;
        }
        int pitch = static_cast<int>(((width * static_cast<UINT>(form.bpp) + 31) / 32) * 4);
        size_t rowBytes = (static_cast<size_t>(width) * static_cast<size_t>(form.bpp) + 7) / 8;
        for (UINT y = 0; y < height; ++y)
        {
            const BYTE* from = static_cast<const BYTE*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride;
            BYTE* to = static_cast<BYTE*>(bits) + static_cast<size_t>(y) * static_cast<size_t>(pitch);
            std::memcpy(to, from, rowBytes);
            // GDI+ hands straight alpha; the blend functions take premultiplied colour.
            if (form.alpha && form.bpp == 32)
                KrPremultiplyBgra(to, width);
        }
        gdip::GdipBitmapUnlockBits(source.get(), &data);

        m_bitmap = section;
        m_width = static_cast<int>(width);
        m_height = static_cast<int>(height);
        m_bpp = form.bpp;
        m_hasAlpha = form.alpha;
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HDC SplashImage::LockDC() const
{
    if (!m_dc)
    {
        m_dc = CreateCompatibleDC(nullptr);
        if (!m_dc)
            return nullptr;
        m_oldBitmap = SelectObject(m_dc, m_bitmap);
    }
    ++m_dcUses;
    return m_dc;
}

void SplashImage::UnlockDC() const
{
    if (--m_dcUses > 0)
        return;
    SelectObject(m_dc, m_oldBitmap);
    DeleteDC(m_dc);
    m_dc = nullptr;
    m_oldBitmap = nullptr;
}

bool SplashImage::Draw(HDC dc, const RECT& dest, const RECT& source) const
{
    if (!m_bitmap || !dc)
        return false;
    HDC memory = LockDC();
    if (!memory)
        return false;
    BOOL done;
    if (m_hasAlpha)
    {
        BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        done = AlphaBlend(dc, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, memory,
                          source.left, source.top, source.right - source.left, source.bottom - source.top,
                          blend);
    }
    else
    {
        done = StretchBlt(dc, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, memory,
                          source.left, source.top, source.right - source.left, source.bottom - source.top,
                          SRCCOPY);
    }
    UnlockDC();
    return done != FALSE;
}

void ShowSplash(HWND window, int x, int y, const SplashImage& image)
{
    int width = image.GetWidth();
    int height = image.GetHeight();
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    // A 32-bit section rather than a screen-compatible bitmap: its alpha bytes are ours to set.
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = bitmap ? SelectObject(memory, bitmap) : nullptr;

    RECT whole{0, 0, width, height};
    if (bitmap && image.Draw(memory, whole, whole) && !image.HasAlpha())
    {
        // A copy leaves alpha 0, which the layered window would show as fully transparent: a picture
        // without alpha is opaque.
        GdiFlush();
        auto* pixels = static_cast<DWORD*>(bits);
        for (size_t i = 0, n = static_cast<size_t>(width) * static_cast<size_t>(height); i < n; ++i)
            pixels[i] |= 0xFF000000u;
    }

    POINT position{x, y};
    SIZE size{width, height};
    POINT origin{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    UpdateLayeredWindow(window, screen, &position, &size, memory, &origin, 0, &blend, ULW_ALPHA);

    if (bitmap)
    {
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}
