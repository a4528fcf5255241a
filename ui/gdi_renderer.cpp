#include "ui/gdi_renderer.h"

#include <utility>
#include <vector>

namespace {

HFONT CreateBarFont(int height, int weight)
{
    return CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_OUTLINE_PRECIS,
                       CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH, "Arial");
}

COLORREF ToColorRef(const KrColor& c)
{
    return RGB(c.red, c.green, c.blue);
}

RECT ToRect(const KrRect& r)
{
    return RECT{r.left, r.top, r.right, r.bottom};
}

// The list uses a handful of colours: one brush per colour for the whole paint.
class BrushSet
{
public:
    BrushSet() = default;
    BrushSet(const BrushSet&) = delete;
    BrushSet& operator=(const BrushSet&) = delete;
    ~BrushSet()
    {
        for (auto& entry : m_brushes)
            DeleteObject(entry.second);
    }

    HBRUSH For(COLORREF color)
    {
        for (auto& entry : m_brushes)
            if (entry.first == color)
                return entry.second;
        HBRUSH brush = CreateSolidBrush(color);
        if (brush)
            m_brushes.emplace_back(color, brush);
        return brush;
    }

private:
    std::vector<std::pair<COLORREF, HBRUSH>> m_brushes;
};

} // namespace

void DrawDisplayList(HDC dc, const KrDisplayList& list)
{
    if (!dc)
        return;
    HFONT statusFont = CreateBarFont(16, FW_DONTCARE);
    HFONT captionFont = CreateBarFont(20, FW_BOLD);
    BrushSet brushes;
    int oldMode = SetBkMode(dc, TRANSPARENT);
    COLORREF oldColor = GetTextColor(dc);
    HGDIOBJ oldFont = nullptr;

    for (const KrDrawItem& item : list.items)
    {
        RECT rect = ToRect(item.rect);
        if (item.kind == KrDrawItem::Kind::Fill)
        {
            if (HBRUSH brush = brushes.For(ToColorRef(item.color)))
                FillRect(dc, &rect, brush);
            continue;
        }
        if (item.text.empty())
            continue;
        HFONT font = item.font == KrFont::Caption ? captionFont : statusFont;
        if (font)
        {
            HGDIOBJ previous = SelectObject(dc, font);
            if (!oldFont)
                oldFont = previous;
        }
        SetTextColor(dc, ToColorRef(item.color));
        static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text");
        DrawTextW(dc, reinterpret_cast<const wchar_t*>(item.text.c_str()), static_cast<int>(item.text.size()),
                  &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }

    if (oldFont)
        SelectObject(dc, oldFont);
    SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
    if (statusFont)
        DeleteObject(statusFont);
    if (captionFont)
        DeleteObject(captionFont);
}
