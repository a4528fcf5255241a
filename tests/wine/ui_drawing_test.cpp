// The splash picture through GDI+ and the bottom bar's GDI renderer, drawn into DIB sections.
#include "launcher/display_list.h"
#include "tests/support/temp_dir.h"
#include "ui/gdi_renderer.h"
#include "ui/splash_format.h"
#include "ui/splash_image.h"

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace
{

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void PutBig32(Bytes& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

// A BMP with a BITMAPINFOHEADER, bottom-up; `rows` are top-down and unpadded.
Bytes MakeBmp(int width, int height, int bpp, const std::vector<uint32_t>& palette,
              const std::vector<Bytes>& rows)
{
    size_t stride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
    uint32_t offset = 14 + 40 + static_cast<uint32_t>(palette.size() * 4);
    Bytes out{'B', 'M'};
    Put32(out, offset + static_cast<uint32_t>(stride * height));
    Put32(out, 0);
    Put32(out, offset);
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(width));
    Put32(out, static_cast<uint32_t>(height));
    Put16(out, 1);
    Put16(out, static_cast<uint32_t>(bpp));
    for (uint32_t v : {0u, 0u, 2835u, 2835u, static_cast<uint32_t>(palette.size()), 0u})
        Put32(out, v);
    for (uint32_t c : palette)
        Put32(out, c & 0xFFFFFF); // BGRx
    for (int y = height - 1; y >= 0; --y)
    {
        Bytes row = rows[static_cast<size_t>(y)];
        row.resize(stride, 0);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

void PutChunk(Bytes& out, const char* type, const Bytes& data)
{
    PutBig32(out, static_cast<uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    PutBig32(out, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

// GDI+ keeps a BMP's fourth byte as padding (32bppRGB): a picture with alpha comes as a PNG (RGBA,
// straight alpha), which GDI+ decodes as 32bppARGB whatever the file is called.
Bytes MakeRgbaPng(int width, int height, const std::vector<uint32_t>& argb)
{
    Bytes raw;
    for (int y = 0; y < height; ++y)
    {
        raw.push_back(0); // no filter
        for (int x = 0; x < width; ++x)
        {
            uint32_t p = argb[static_cast<size_t>(y * width + x)];
            raw.insert(raw.end(), {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8),
                                   static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 24)});
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(packedSize);
    compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
    packed.resize(packedSize);

    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    PutBig32(header, static_cast<uint32_t>(width));
    PutBig32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8 bits, RGBA
    PutChunk(out, "IHDR", header);
    PutChunk(out, "IDAT", packed);
    PutChunk(out, "IEND", {});
    return out;
}

std::string WriteFile(const kr::test::TempDir& dir, const char* name, const Bytes& bytes)
{
    std::string path = dir.Path() + name;
    kr::test::WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

// A 32-bit top-down DIB section in a memory DC, filled with one colour.
class Canvas
{
public:
    Canvas(int width, int height, COLORREF fill) : m_width(width)
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        m_dc = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_pixels = static_cast<uint32_t*>(bits);
        m_old = SelectObject(m_dc, m_bitmap);
        uint32_t value = (GetRValue(fill) << 16) | (GetGValue(fill) << 8) | GetBValue(fill);
        for (int i = 0; i < width * height; ++i)
            m_pixels[i] = value;
    }
    ~Canvas()
    {
        SelectObject(m_dc, m_old);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    bool Ready() const { return m_dc && m_pixels; }
    HDC dc() const { return m_dc; }
    // 0xRRGGBB
    uint32_t At(int x, int y) const
    {
        GdiFlush();
        return m_pixels[y * m_width + x] & 0xFFFFFF;
    }

private:
    int m_width;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    uint32_t* m_pixels = nullptr;
};

int Channel(uint32_t rgb, int shift)
{
    return static_cast<int>((rgb >> shift) & 0xFF);
}

RECT Whole(const SplashImage& image)
{
    return RECT{0, 0, image.GetWidth(), image.GetHeight()};
}

} // namespace

TEST(SplashImage, PngAlphaIsBlendedPerPixelOverTheWholeNonSquarePicture)
{
    kr::test::TempDir dir;
    // 2 x 5, taller than wide: the last row must be drawn too.
    std::vector<uint32_t> argb(10, 0xFF0A141E);
    argb[0] = 0x00000000; // transparent
    argb[1] = 0x80404040; // half, colour already within alpha
    argb[9] = 0xFF306090;
    SplashImage image;
    ASSERT_EQ(image.Load(WriteFile(dir, "Splash.bmp", MakeRgbaPng(2, 5, argb)).c_str()), S_OK);
    EXPECT_EQ(image.GetWidth(), 2);
    EXPECT_EQ(image.GetHeight(), 5);
    EXPECT_EQ(image.GetBPP(), 32);
    EXPECT_TRUE(image.HasAlpha());

    Canvas canvas(4, 6, RGB(255, 255, 255));
    ASSERT_TRUE(canvas.Ready());
    ASSERT_TRUE(image.Draw(canvas.dc(), Whole(image), Whole(image)));
    EXPECT_EQ(canvas.At(0, 0), 0xFFFFFFu);
    // 0x40 + 255 * (255 - 128) / 255 = 0xBF, give or take rounding.
    EXPECT_NEAR(Channel(canvas.At(1, 0), 8), 0xBF, 2);
    EXPECT_EQ(canvas.At(0, 2), 0x0A141Eu);
    EXPECT_EQ(canvas.At(1, 4), 0x306090u);
    EXPECT_EQ(canvas.At(2, 4), 0xFFFFFFu) << "drawn beyond the destination";
    EXPECT_EQ(canvas.At(1, 5), 0xFFFFFFu) << "drawn beyond the destination";
}

TEST(SplashImage, BitmapFormatsAreStoredAtTheirDepthAndDrawnOpaque)
{
    kr::test::TempDir dir;
    // 32-bit BMP: its fourth byte is no alpha, so even a 0 there shows the colour.
    std::vector<Bytes> rows32 = {{0x10, 0x20, 0x30, 0x00, 0x40, 0x50, 0x60, 0x00, 1, 2, 3, 0}};
    SplashImage rgb32;
    ASSERT_EQ(rgb32.Load(WriteFile(dir, "a.bmp", MakeBmp(3, 1, 32, {}, rows32)).c_str()), S_OK);
    EXPECT_EQ(rgb32.GetBPP(), 32);
    EXPECT_FALSE(rgb32.HasAlpha());

    // 256-entry palette, 7 x 3: rows padded to 8 bytes in the file.
    std::vector<uint32_t> palette(256);
    for (uint32_t i = 0; i < 256; ++i)
        palette[i] = (i << 16) | ((255 - i) << 8) | (i / 2);
    std::vector<Bytes> rows8(3, Bytes(7));
    for (size_t y = 0; y < 3; ++y)
        for (size_t x = 0; x < 7; ++x)
            rows8[y][x] = static_cast<uint8_t>(y * 100 + x * 20);
    SplashImage indexed;
    ASSERT_EQ(indexed.Load(WriteFile(dir, "p.bmp", MakeBmp(7, 3, 8, palette, rows8)).c_str()), S_OK);
    EXPECT_EQ(indexed.GetWidth(), 7);
    EXPECT_EQ(indexed.GetHeight(), 3);
    EXPECT_EQ(indexed.GetBPP(), 8);
    EXPECT_FALSE(indexed.HasAlpha());

    // 24-bit, 5 x 2: rows of 15 bytes padded to 16.
    std::vector<Bytes> rows24(2, Bytes(15));
    for (size_t i = 0; i < 15; ++i)
    {
        rows24[0][i] = static_cast<uint8_t>(i * 10);
        rows24[1][i] = static_cast<uint8_t>(250 - i * 10);
    }
    SplashImage rgb24;
    ASSERT_EQ(rgb24.Load(WriteFile(dir, "t.bmp", MakeBmp(5, 2, 24, {}, rows24)).c_str()), S_OK);
    EXPECT_EQ(rgb24.GetBPP(), 24);

    Canvas canvas(8, 4, RGB(255, 255, 255));
    ASSERT_TRUE(canvas.Ready());
    ASSERT_TRUE(rgb32.Draw(canvas.dc(), Whole(rgb32), Whole(rgb32)));
    EXPECT_EQ(canvas.At(0, 0), 0x302010u);
    EXPECT_EQ(canvas.At(2, 0), 0x030201u);

    ASSERT_TRUE(indexed.Draw(canvas.dc(), Whole(indexed), Whole(indexed)));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(canvas.At(x, y), palette[static_cast<size_t>((y * 100 + x * 20) & 0xFF)])
                << x << "," << y;
    EXPECT_EQ(canvas.At(7, 0), 0xFFFFFFu);

    ASSERT_TRUE(rgb24.Draw(canvas.dc(), Whole(rgb24), Whole(rgb24)));
    EXPECT_EQ(canvas.At(4, 0), 0x8C8278u); // bytes 120, 130, 140 as B, G, R
    EXPECT_EQ(canvas.At(4, 1), 0x6E7882u);
}

TEST(SplashImage, FailedLoadsLeaveTheImageEmpty)
{
    kr::test::TempDir dir;
    SplashImage image;
    Bytes bmp = MakeBmp(2, 2, 24, {}, {Bytes(6, 9), Bytes(6, 9)});
    ASSERT_EQ(image.Load(WriteFile(dir, "ok.bmp", bmp).c_str()), S_OK);

    EXPECT_EQ(image.Load((dir.Path() + "missing.bmp").c_str()), E_FAIL);
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetHeight(), 0);
    EXPECT_EQ(image.GetBPP(), 0);
    Canvas canvas(2, 2, RGB(1, 2, 3));
    RECT r{0, 0, 2, 2};
    EXPECT_FALSE(image.Draw(canvas.dc(), r, r));
    EXPECT_EQ(canvas.At(0, 0), 0x010203u);

    bmp.resize(30); // the header cut short
    EXPECT_EQ(image.Load(WriteFile(dir, "cut.bmp", bmp).c_str()), E_FAIL);
    EXPECT_EQ(image.GetWidth(), 0);
}

// GDI+ under Wine fills every indexed file's palette up to 2^bpp entries, so the palette limits are
// checked on the choice of the stored form.
TEST(SplashImage, StoredFormFollowsAlphaPaletteAndDepthRules)
{
    KrSplashForm argb1555 = ChooseSplashForm(PixelFormat16bppARGB1555, 0);
    EXPECT_TRUE(argb1555.usable && argb1555.alpha);
    EXPECT_EQ(argb1555.format, static_cast<uint32_t>(PixelFormat32bppARGB));
    EXPECT_EQ(argb1555.bpp, 32);

    KrSplashForm full = ChooseSplashForm(PixelFormat8bppIndexed, 256);
    EXPECT_TRUE(full.usable);
    EXPECT_EQ(full.bpp, 8);
    EXPECT_EQ(full.format, static_cast<uint32_t>(PixelFormat8bppIndexed));
    EXPECT_FALSE(ChooseSplashForm(PixelFormat8bppIndexed, 0).usable);
    EXPECT_FALSE(ChooseSplashForm(PixelFormat4bppIndexed, 257).usable);
    EXPECT_EQ(ChooseSplashForm(PixelFormat1bppIndexed, 2).bpp, 1);

    EXPECT_EQ(ChooseSplashForm(PixelFormat16bppRGB565, 0).bpp, 16);
    KrSplashForm deep = ChooseSplashForm(PixelFormat48bppRGB, 0);
    EXPECT_TRUE(deep.usable);
    EXPECT_FALSE(deep.alpha);
    EXPECT_EQ(deep.format, static_cast<uint32_t>(PixelFormat32bppRGB));
}

namespace
{

KrDrawItem Fill(KrRect rect, KrColor color)
{
    KrDrawItem item;
    item.kind = KrDrawItem::Kind::Fill;
    item.rect = rect;
    item.color = color;
    return item;
}

KrDrawItem Text(KrRect rect, KrColor color, KrFont font, const std::u16string& text)
{
    KrDrawItem item;
    item.kind = KrDrawItem::Kind::Text;
    item.rect = rect;
    item.color = color;
    item.font = font;
    item.text = text;
    return item;
}

struct Ink
{
    int count = 0;
    int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
    bool tinted = false; // a pixel whose channels differ: an opaque background would show here
    int lowest = 255, highest = 0;
};

Ink InkIn(const Canvas& canvas, const KrRect& r, uint32_t background)
{
    Ink ink;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
        {
            uint32_t p = canvas.At(x, y);
            if (p == background)
                continue;
            ++ink.count;
            ink.left = std::min(ink.left, x);
            ink.right = std::max(ink.right, x + 1);
            ink.top = std::min(ink.top, y);
            ink.bottom = std::max(ink.bottom, y + 1);
            if (Channel(p, 16) != Channel(p, 8) || Channel(p, 8) != Channel(p, 0))
                ink.tinted = true;
            ink.lowest = std::min(ink.lowest, Channel(p, 8));
            ink.highest = std::max(ink.highest, Channel(p, 8));
        }
    return ink;
}

} // namespace

TEST(GdiRenderer, FillsAndCentredTransparentTextsWithTheirFonts)
{
    const KrColor bar{250, 250, 250}, grey{176, 176, 176}, green{116, 176, 0}, white{255, 255, 255};
    const KrRect status{10, 10, 150, 50}, button{160, 10, 290, 50}, shortBox{10, 60, 150, 100};
    KrDisplayList list;
    list.items = {Fill({0, 0, 300, 110}, bar),
                  Fill(status, grey),
                  Fill(button, green),
                  Text(status, white, KrFont::Status, u"WAIT"),
                  Text(button, white, KrFont::Caption, u"WAIT"),
                  Text(shortBox, grey, KrFont::Status, u"Ok")};

    Canvas canvas(300, 110, RGB(0, 0, 0));
    ASSERT_TRUE(canvas.Ready());
    // An opaque red background left in the DC would show behind the glyphs.
    SetBkMode(canvas.dc(), OPAQUE);
    SetBkColor(canvas.dc(), RGB(255, 0, 0));
    DrawDisplayList(canvas.dc(), list);

    EXPECT_EQ(canvas.At(2, 2), 0xFAFAFAu);
    EXPECT_EQ(canvas.At(155, 30), 0xFAFAFAu);
    EXPECT_EQ(canvas.At(11, 11), 0xB0B0B0u);
    EXPECT_EQ(canvas.At(161, 48), 0x74B000u);
    EXPECT_EQ(GetBkMode(canvas.dc()), OPAQUE) << "the DC's state is put back";

    Ink statusInk = InkIn(canvas, status, 0xB0B0B0u);
    Ink captionInk = InkIn(canvas, button, 0x74B000u);
    Ink greyInk = InkIn(canvas, shortBox, 0xFAFAFAu);
    ASSERT_GT(statusInk.count, 20);
    ASSERT_GT(captionInk.count, 20);
    ASSERT_GT(greyInk.count, 5);
    EXPECT_FALSE(statusInk.tinted);
    EXPECT_FALSE(greyInk.tinted);
    // Centred on one line: the ink's middle sits at the rectangle's middle.
    EXPECT_NEAR((statusInk.left + statusInk.right) / 2.0, 80, 4);
    EXPECT_NEAR((statusInk.top + statusInk.bottom) / 2.0, 30, 4);
    EXPECT_NEAR((captionInk.left + captionInk.right) / 2.0, 225, 4);
    EXPECT_NEAR((greyInk.top + greyInk.bottom) / 2.0, 80, 4);
    // The caption font is taller and bold: the same word takes more room.
    EXPECT_GT(captionInk.right - captionInk.left, statusInk.right - statusInk.left);
    EXPECT_GT(captionInk.bottom - captionInk.top, statusInk.bottom - statusInk.top);
    // Each text in its own colour: white ink only lightens the grey, grey ink only darkens the bar.
    EXPECT_GT(statusInk.lowest, 0xB0);
    EXPECT_LT(greyInk.highest, 0xFA);
    EXPECT_LT(greyInk.lowest, 0xC0);
}
