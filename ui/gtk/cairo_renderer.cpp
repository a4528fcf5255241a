#include "ui/gtk/cairo_renderer.h"

#include "services/text_convert.h"

#include <pango/pangocairo.h>

namespace
{

constexpr uint32_t kUtf8 = 65001;

void SetColor(cairo_t* cr, const KrColor& color)
{
    cairo_set_source_rgb(cr, color.red / 255.0, color.green / 255.0, color.blue / 255.0);
}

// GDI's font height is the cell height in pixels; Pango's absolute size is the em size. Arial's
// em is 2048 of its 2355 units of ascent plus descent.
PangoFontDescription* BarFont(KrFont font)
{
    PangoFontDescription* description = pango_font_description_from_string("Arial, Liberation Sans");
    const int cellHeight = font == KrFont::Caption ? 20 : 16;
    pango_font_description_set_absolute_size(description, cellHeight * 2048.0 / 2355.0 * PANGO_SCALE);
    pango_font_description_set_weight(description, font == KrFont::Caption ? PANGO_WEIGHT_BOLD
                                                                            : PANGO_WEIGHT_NORMAL);
    return description;
}

void DrawText(cairo_t* cr, const KrDrawItem& item)
{
    if (item.text.empty())
        return;
    // DT_SINGLELINE: line breaks are drawn as nothing, not as new lines.
    std::string text = ToNarrow(item.text, kUtf8);
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = BarFont(item.font);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, text.c_str(), -1);
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    cairo_save(cr);
    // DrawText clips nothing either, but centring in a too small rectangle must not wrap.
    SetColor(cr, item.color);
    cairo_move_to(cr, item.rect.left + (item.rect.Width() - width) / 2.0,
                  item.rect.top + (item.rect.Height() - height) / 2.0);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    pango_font_description_free(font);
    g_object_unref(layout);
}

} // namespace

void DrawDisplayList(cairo_t* cr, const KrDisplayList& list)
{
    if (!cr)
        return;
    for (const KrDrawItem& item : list.items)
    {
        if (item.kind == KrDrawItem::Kind::Text)
        {
            DrawText(cr, item);
            continue;
        }
        if (item.rect.Width() <= 0 || item.rect.Height() <= 0)
            continue;
        SetColor(cr, item.color);
        cairo_rectangle(cr, item.rect.left, item.rect.top, item.rect.Width(), item.rect.Height());
        cairo_fill(cr);
    }
}
