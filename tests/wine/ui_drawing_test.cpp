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

#include <cstdlib>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

template <typename T>
void Append(Bytes& out, const T& value)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), p, p + sizeof(T));
}

void AppendBig32(Bytes& out, uint32_t v)
{
    Append(out, _byteswap_ulong(v));
}

// A bottom-up BMP with a BITMAPINFOHEADER; `rows` are top-down and unpadded.
Bytes MakeBmp(int width, int height, int bpp, const std::vector<uint32_t>& palette, const std::vector<Bytes>& rows)
{
    size_t stride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
    BITMAPINFOHEADER info{sizeof(info), width, height, 1, static_cast<WORD>(bpp), BI_RGB, 0, 0, 0,
                          static_cast<DWORD>(palette.size()), 0};
    BITMAPFILEHEADER file{0x4D42, 0, 0, 0, static_cast<DWORD>(sizeof(file) + sizeof(info) + palette.size() * 4)};
    file.bfSize = file.bfOffBits + static_cast<DWORD>(stride * height);
    Bytes out;
    Append(out, file);
    Append(out, info);
    for (uint32_t bgr : palette)
        Append(out, bgr);
    for (int y = height - 1; y >= 0; --y)
    {
        Bytes row = rows[static_cast<size_t>(y)];
        row.resize(stride, 0);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// GDI+ reads a BMP's fourth byte as padding (32bppRGB), whatever its header: a picture with alpha
// comes as a PNG (RGBA, straight alpha), which GDI+ decodes as 32bppARGB under any file name.
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

    Bytes header;
    AppendBig32(header, static_cast<uint32_t>(width));
    AppendBig32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8 bits per channel, RGBA
    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (auto& [type, data] : {std::make_pair("IHDR", header), std::make_pair("IDAT", packed),
                               std::make_pair("IEND", Bytes())})
    {
        AppendBig32(out, static_cast<uint32_t>(data.size()));
        size_t start = out.size();
        out.insert(out.end(), type, type + 4);
        out.insert(out.end(), data.begin(), data.end());
        AppendBig32(out, static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
    }
    return out;
}

std::string WriteFile(const kr::test::TempDir& dir, const char* name, const Bytes& bytes)
{
    std::string path = dir.Path() + name;
    kr::test::WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

// A 32-bit top-down DIB section in a memory DC, filled with one colour (0xRRGGBB).
class Canvas
{
public:
    Canvas(int width, int height, uint32_t fill) : m_width(width), m_dc(CreateCompatibleDC(nullptr))
    {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_pixels = static_cast<uint32_t*>(bits);
        m_old = SelectObject(m_dc, m_bitmap);
        if (m_pixels)
            std::fill(m_pixels, m_pixels + width * height, fill);
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
    uint32_t At(int x, int y) const
    {
        GdiFlush();
        return m_pixels[y * m_width + x] & 0xFFFFFF;
    }

private:
    int m_width;
    HDC m_dc;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    uint32_t* m_pixels = nullptr;
};

int Green(uint32_t rgb)
{
    return static_cast<int>((rgb >> 8) & 0xFF);
}

bool DrawWhole(const SplashImage& image, const Canvas& canvas)
{
    RECT whole{0, 0, image.GetWidth(), image.GetHeight()};
    return image.Draw(canvas.dc(), whole, whole);
}

} // namespace

TEST(SplashImage, PngAlphaIsBlendedPerPixelOverTheWholeNonSquarePicture)
{
    kr::test::TempDir dir;
    // 2 x 5, taller than wide: the last row must be drawn too.
    std::vector<uint32_t> argb(10, 0xFF0A141E);
    argb[0] = 0x00000000; // transparent
    argb[1] = 0x80404040; // half
    argb[9] = 0xFF306090;
    SplashImage image;
    ASSERT_EQ(image.Load(WriteFile(dir, "Splash.bmp", MakeRgbaPng(2, 5, argb)).c_str()), S_OK);
    EXPECT_EQ(image.GetWidth(), 2);
    EXPECT_EQ(image.GetHeight(), 5);
    EXPECT_EQ(image.GetBPP(), 32);
    EXPECT_TRUE(image.HasAlpha());

    Canvas canvas(4, 6, 0xFFFFFF);
    ASSERT_TRUE(canvas.Ready());
    ASSERT_TRUE(DrawWhole(image, canvas));
    EXPECT_EQ(canvas.At(0, 0), 0xFFFFFFu);
    // 0x40 at half alpha over white: 0x40 * 128 / 255 + 255 * 127 / 255.
    EXPECT_NEAR(Green(canvas.At(1, 0)), 32 + 127, 2);
    EXPECT_EQ(canvas.At(0, 2), 0x0A141Eu);
    EXPECT_EQ(canvas.At(1, 4), 0x306090u);
    EXPECT_EQ(canvas.At(2, 4), 0xFFFFFFu) << "drawn beyond the destination";
    EXPECT_EQ(canvas.At(1, 5), 0xFFFFFFu) << "drawn beyond the destination";
}

TEST(SplashImage, SoftEdgesAndClearPixelsBlendAsStraightAlphaOverTheBackground)
{
    kr::test::TempDir dir;
    std::vector<uint32_t> argb = {
        0x80C86400, // (200, 100, 0) at alpha 128
        0x00FFFFFF, // fully transparent, with white colour
        0x40FF0000, // red at a quarter
    };
    SplashImage image;
    ASSERT_EQ(image.Load(WriteFile(dir, "Splash.bmp", MakeRgbaPng(3, 1, argb)).c_str()), S_OK);
    ASSERT_TRUE(image.HasAlpha());
    Canvas canvas(3, 1, 0x0000FF); // blue
    ASSERT_TRUE(canvas.Ready());
    ASSERT_TRUE(DrawWhole(image, canvas));
    auto blendsTo = [](uint32_t got, int r, int g, int b)
    {
        const int parts[3] = {static_cast<int>(got >> 16) & 0xFF, static_cast<int>(got >> 8) & 0xFF,
                              static_cast<int>(got) & 0xFF};
        return std::abs(parts[0] - r) <= 2 && std::abs(parts[1] - g) <= 2 && std::abs(parts[2] - b) <= 2;
    };
    // source * a + background * (1 - a): (100, 50, 0) + (0, 0, 127).
    EXPECT_PRED4(blendsTo, canvas.At(0, 0), 100, 50, 127);
    EXPECT_PRED4(blendsTo, canvas.At(1, 0), 0, 0, 255) << "a clear pixel adds no light";
    EXPECT_PRED4(blendsTo, canvas.At(2, 0), 64, 0, 191);
}

TEST(SplashImage, BitmapFormatsAreStoredAtTheirDepthAndDrawnOpaque)
{
    kr::test::TempDir dir;
    // 32-bit: the fourth byte is no alpha, so a 0 there still shows the colour.
    SplashImage rgb32;
    ASSERT_EQ(rgb32.Load(WriteFile(dir, "a.bmp", MakeBmp(2, 1, 32, {}, {{0x10, 0x20, 0x30, 0, 1, 2, 3, 0}})).c_str()),
              S_OK);
    EXPECT_EQ(rgb32.GetBPP(), 32);
    EXPECT_FALSE(rgb32.HasAlpha());

    // 256-entry palette, 7 x 3: rows padded to 8 bytes in the file.
    std::vector<uint32_t> palette(256);
    for (uint32_t i = 0; i < 256; ++i)
        palette[i] = (i << 16) | ((255 - i) << 8) | (i / 2);
    std::vector<Bytes> rows8(3, Bytes(7));
    for (size_t i = 0; i < 21; ++i)
        rows8[i / 7][i % 7] = static_cast<uint8_t>(i * 13);
    SplashImage indexed;
    ASSERT_EQ(indexed.Load(WriteFile(dir, "p.bmp", MakeBmp(7, 3, 8, palette, rows8)).c_str()), S_OK);
    EXPECT_EQ(indexed.GetWidth(), 7);
    EXPECT_EQ(indexed.GetHeight(), 3);
    EXPECT_EQ(indexed.GetBPP(), 8);

    Canvas canvas(8, 4, 0xFFFFFF);
    ASSERT_TRUE(canvas.Ready());
    ASSERT_TRUE(DrawWhole(rgb32, canvas));
    EXPECT_EQ(canvas.At(0, 0), 0x302010u);
    EXPECT_EQ(canvas.At(1, 0), 0x030201u);
    ASSERT_TRUE(DrawWhole(indexed, canvas));
    for (size_t i = 0; i < 21; ++i)
        EXPECT_EQ(canvas.At(static_cast<int>(i % 7), static_cast<int>(i / 7)), palette[(i * 13) & 0xFF]) << i;
    EXPECT_EQ(canvas.At(7, 0), 0xFFFFFFu);
}

TEST(SplashImage, FailedLoadsLeaveTheImageEmpty)
{
    kr::test::TempDir dir;
    Bytes bmp = MakeBmp(2, 2, 24, {}, {Bytes(6, 9), Bytes(6, 9)});
    SplashImage image;
    ASSERT_EQ(image.Load(WriteFile(dir, "ok.bmp", bmp).c_str()), S_OK);
    EXPECT_EQ(image.Load((dir.Path() + "missing.bmp").c_str()), E_FAIL);
    EXPECT_EQ(image.GetWidth() + image.GetHeight() + image.GetBPP(), 0);
    Canvas canvas(2, 2, 0x010203);
    EXPECT_FALSE(DrawWhole(image, canvas));
    EXPECT_EQ(canvas.At(0, 0), 0x010203u);

    ASSERT_EQ(image.Load(WriteFile(dir, "ok.bmp", bmp).c_str()), S_OK);
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
    EXPECT_TRUE(full.usable && !full.alpha);
    EXPECT_EQ(full.format, static_cast<uint32_t>(PixelFormat8bppIndexed));
    EXPECT_EQ(full.bpp, 8);
    EXPECT_FALSE(ChooseSplashForm(PixelFormat8bppIndexed, 0).usable);
    EXPECT_FALSE(ChooseSplashForm(PixelFormat4bppIndexed, 257).usable);
    EXPECT_EQ(ChooseSplashForm(PixelFormat16bppRGB565, 0).bpp, 16);
    KrSplashForm deep = ChooseSplashForm(PixelFormat48bppRGB, 0);
    EXPECT_TRUE(deep.usable && !deep.alpha);
    EXPECT_EQ(deep.format, static_cast<uint32_t>(PixelFormat32bppRGB));
}

namespace {

KrDrawItem Item(KrDrawItem::Kind kind, KrRect rect, KrColor color, KrFont font = KrFont::Status,
                const std::u16string& text = u"")
{
    KrDrawItem item;
    item.kind = kind;
    item.rect = rect;
    item.color = color;
    item.font = font;
    item.text = text;
    return item;
}

// The pixels of a rectangle that differ from its background: their extent and grey levels.
struct Ink
{
    int count = 0;
    int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
    int lowest = 255, highest = 0;
    bool tinted = false; // channels differ: a coloured background shows behind the glyphs
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
            ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x + 1);
            ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y + 1);
            ink.lowest = std::min(ink.lowest, Green(p)), ink.highest = std::max(ink.highest, Green(p));
            ink.tinted |= (p >> 16) != (p & 0xFF) || Green(p) != static_cast<int>(p & 0xFF);
        }
    return ink;
}

} // namespace

TEST(GdiRenderer, FillsAndCentredTransparentTextsWithTheirFonts)
{
    using Kind = KrDrawItem::Kind;
    const KrColor bar{250, 250, 250}, grey{176, 176, 176}, green{116, 176, 0}, white{255, 255, 255};
    const KrRect status{10, 10, 150, 50}, button{160, 10, 290, 50}, lower{10, 60, 150, 100};
    KrDisplayList list;
    list.items = {Item(Kind::Fill, {0, 0, 300, 110}, bar),
                  Item(Kind::Fill, status, grey),
                  Item(Kind::Fill, button, green),
                  Item(Kind::Text, status, white, KrFont::Status, u"WAIT"),
                  Item(Kind::Text, button, white, KrFont::Caption, u"WAIT"),
                  Item(Kind::Text, lower, grey, KrFont::Status, u"Ok")};

    Canvas canvas(300, 110, 0);
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
    Ink greyInk = InkIn(canvas, lower, 0xFAFAFAu);
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
