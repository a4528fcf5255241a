#pragma once
// The splash picture: a file read through GDI+ into a device-independent section bitmap, drawn
// with per-pixel alpha when the file carries an alpha channel.
#include <windows.h>

class SplashImage
{
public:
    SplashImage();
    ~SplashImage();
    SplashImage(const SplashImage&) = delete;
    SplashImage& operator=(const SplashImage&) = delete;

    // E_FAIL / E_OUTOFMEMORY on failure; the image then stays empty.
    HRESULT Load(const char* fileName);
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    int GetBPP() const { return m_bpp; }
    bool HasAlpha() const { return m_hasAlpha; }
    bool Draw(HDC dc, const RECT& dest, const RECT& source) const;

private:
    void Clear();
    HDC LockDC() const;
    void UnlockDC() const;

    HBITMAP m_bitmap = nullptr;
    int m_width = 0;
    int m_height = 0;
    int m_bpp = 0;
    bool m_hasAlpha = false;
    // The image is selected into this context only while drawing.
    mutable HDC m_dc = nullptr;
    mutable int m_dcUses = 0;
    mutable HGDIOBJ m_oldBitmap = nullptr;
};

// Hands the whole picture to the layered `window` once, at screen position (x, y) and the image's
// size.
void ShowSplash(HWND window, int x, int y, const SplashImage& image);
