#pragma once
// How the splash picture keeps a decoded image: the pixel format of its section bitmap, chosen from
// the source's GDI+ pixel format.
#include <cstddef>
#include <cstdint>

struct KrSplashForm
{
    bool usable = false;
    uint32_t format = 0; // GDI+ PixelFormat of the stored pixels
    int bpp = 0;
    bool alpha = false;
};

// `paletteEntries` is only looked at for indexed formats: an empty palette or one with more than 256
// entries cannot become a GDI colour table.
KrSplashForm ChooseSplashForm(uint32_t sourceFormat, uint32_t paletteEntries);

// Turns `pixels` 32-bit BGRA pixels with straight alpha into premultiplied ones, the form that
// AlphaBlend and UpdateLayeredWindow take with AC_SRC_ALPHA (each colour times alpha / 255, rounded).
void KrPremultiplyBgra(uint8_t* bgra, size_t pixels);
