#include "ui/splash_format.h"

#include <windows.h>

#include <objidl.h> // PROPID, which WIN32_LEAN_AND_MEAN leaves out

#include <gdiplus.h>

KrSplashForm ChooseSplashForm(uint32_t sourceFormat, uint32_t paletteEntries)
{
    KrSplashForm form;
    if (sourceFormat & PixelFormatAlpha)
    {
        // Straight alpha: the blend gets the colours as the file holds them.
        form.format = PixelFormat32bppARGB;
        form.bpp = 32;
        form.alpha = true;
    }
    else if (sourceFormat & PixelFormatGDI)
    {
        if ((sourceFormat & PixelFormatIndexed) && (paletteEntries == 0 || paletteEntries > 256))
            return form;
        form.format = sourceFormat;
        form.bpp = static_cast<int>((sourceFormat >> 8) & 0xFF);
    }
    else
    {
        form.format = PixelFormat32bppRGB;
        form.bpp = 32;
    }
    form.usable = true;
    return form;
}

void KrPremultiplyBgra(uint8_t* bgra, size_t pixels)
{
    for (size_t i = 0; i < pixels; ++i, bgra += 4)
    {
        const unsigned alpha = bgra[3];
        for (int c = 0; c < 3; ++c)
            bgra[c] = static_cast<uint8_t>((bgra[c] * alpha + 127) / 255);
    }
}
