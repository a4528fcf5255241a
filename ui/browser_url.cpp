#include "ui/browser_url.h"

#include "services/text_convert.h"

#include <utility>

bool WidenUrl(const std::string& url, std::u16string& wide)
{
    if (url.empty() || url.size() >= kKrUrlBufferUnits * 4)
        return false;
    std::u16string converted = ToWide(url);
    if (converted.empty() || converted.size() >= kKrUrlBufferUnits)
        return false;
    wide = std::move(converted);
    return true;
}

bool NarrowUrl(const wchar_t* units, size_t length, std::string& url)
{
    if (length >= kKrUrlBufferUnits)
        return false;
    if (!units || length == 0)
    {
        url.clear();
        return true;
    }
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text");
    std::u16string wide(reinterpret_cast<const char16_t*>(units), length);
    std::string narrow = ToNarrow(wide);
    if (narrow.size() >= kKrUrlBufferUnits)
        return false;
    url = std::move(narrow);
    return true;
}
