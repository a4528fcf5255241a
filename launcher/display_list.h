#pragma once
// The bottom bar of the main window as a short display list: the launcher's paint logic produces it,
// the Win32 renderer draws it with GDI and native tests read it.
#include <cstdint>
#include <string>
#include <vector>

struct KrRect
{
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    // PtInRect: left and top inclusive, right and bottom exclusive.
    bool Contains(int32_t x, int32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
    // InflateRect with -d.
    KrRect Shrunk(int32_t d) const { return {left + d, top + d, right - d, bottom - d}; }
    bool operator==(const KrRect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

struct KrColor
{
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const KrColor& o) const { return red == o.red && green == o.green && blue == o.blue; }
};

enum class KrFont
{
    Status,  // Arial, height 16, default weight
    Caption, // Arial, height 20, weight 700
};

enum class KrCursor
{
    Arrow,
    Hand,
};

// One drawing step: a solid fill of `rect`, or `text` drawn centred on one line in `rect` with a
// transparent background.
struct KrDrawItem
{
    enum class Kind
    {
        Fill,
        Text,
    };
    Kind kind = Kind::Fill;
    KrRect rect;
    KrColor color;
    KrFont font = KrFont::Status;
    std::u16string text;
};

struct KrDisplayList
{
    std::vector<KrDrawItem> items;
    KrCursor cursor = KrCursor::Arrow; // the cursor to show after painting
};
