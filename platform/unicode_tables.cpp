#include "platform/unicode_tables.h"

namespace kr::text {
namespace {

// Windows-1252 bytes 0x80..0x9F; the five unassigned bytes map to the C1 control of the same value.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendCodePoint(std::u16string& out, uint32_t cp)
{
    if (cp >= 0x10000)
    {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
    else
    {
        out += static_cast<char16_t>(cp);
    }
}

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80)
    {
        out += static_cast<char>(cp);
    }
    else if (cp < 0x800)
    {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else if (cp < 0x10000)
    {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void DecodeUtf8(const unsigned char* s, std::u16string& out)
{
    while (*s)
    {
        unsigned char b = *s;
        int extra = 0;
        uint32_t cp = 0;
        uint32_t min = 0;
        if (b < 0x80)
        {
            out += static_cast<char16_t>(b);
            ++s;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF)
        {
            extra = 1, cp = b & 0x1F, min = 0x80;
        }
        else if (b >= 0xE0 && b <= 0xEF)
        {
            extra = 2, cp = b & 0x0F, min = 0x800;
        }
        else if (b >= 0xF0 && b <= 0xF4)
        {
            extra = 3, cp = b & 0x07, min = 0x10000;
        }
        else
        {
            out += u'\uFFFD';
            ++s;
            continue;
        }
        int taken = 1;
        bool valid = true;
        for (; taken <= extra; ++taken)
        {
            if ((s[taken] & 0xC0) != 0x80)
            {
                valid = false;
                break;
            }
            cp = (cp << 6) | (s[taken] & 0x3F);
        }
        if (!valid || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        {
            // One replacement for the lead byte; the scan resumes at the first byte not taken.
            out += u'\uFFFD';
            s += taken;
            continue;
        }
        AppendCodePoint(out, cp);
        s += taken;
    }
}

} // namespace

bool DecodeToUtf16(uint32_t codePage, const char* src, std::u16string& out)
{
    out.clear();
    auto s = reinterpret_cast<const unsigned char*>(src);
    if (codePage == 65001)
    {
        DecodeUtf8(s, out);
        return true;
    }
    if (codePage != 1252)
        return false;
    for (; *s; ++s)
        out += (*s >= 0x80 && *s < 0xA0) ? kCp1252High[*s - 0x80] : static_cast<char16_t>(*s);
    return true;
}

bool EncodeFromUtf16(uint32_t codePage, const char16_t* src, std::string& out)
{
    out.clear();
    if (codePage == 65001)
    {
        for (; *src; ++src)
        {
            uint32_t c = *src;
            if (c >= 0xD800 && c <= 0xDBFF && src[1] >= 0xDC00 && src[1] <= 0xDFFF)
            {
                c = 0x10000 + ((c - 0xD800) << 10) + (src[1] - 0xDC00);
                ++src;
            }
            else if (c >= 0xD800 && c <= 0xDFFF)
            {
                c = 0xFFFD;
            }
            AppendUtf8(out, c);
        }
        return true;
    }
    if (codePage != 1252)
        return false;
    for (; *src; ++src)
    {
        char16_t c = *src;
        char byte = '?';
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        {
            byte = static_cast<char>(c);
        }
        else
        {
            for (int i = 0; i < 32; ++i)
            {
                if (kCp1252High[i] == c)
                {
                    byte = static_cast<char>(0x80 + i);
                    break;
                }
            }
        }
        out += byte;
    }
    return true;
}

} // namespace kr::text
