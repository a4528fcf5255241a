#include "services/value_text.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace kr::value {

namespace {

bool IsSpace(char32_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char32_t c)
{
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'z')
        return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'Z')
        return static_cast<int>(c - 'A' + 10);
    return 99;
}

template <typename Char>
int64_t ParseAnyInteger(const std::basic_string<Char>& text, bool autoBase)
{
    size_t i = 0, n = text.size();
    while (i < n && IsSpace(static_cast<char32_t>(text[i])))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (autoBase && i < n && text[i] == '0')
    {
        if (i + 2 < n && (text[i + 1] == 'x' || text[i + 1] == 'X') && DigitValue(static_cast<char32_t>(text[i + 2])) < 16)
        {
            base = 16;
            i += 2;
        }
        else
        {
            base = 8;
        }
    }
    uint64_t magnitude = 0;
    bool saturated = false;
    for (; i < n; ++i)
    {
        int digit = DigitValue(static_cast<char32_t>(text[i]));
        if (digit >= base)
            break;
        if (magnitude > (std::numeric_limits<uint64_t>::max() - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base))
            saturated = true;
        else
            magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    constexpr uint64_t kMaxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (negative)
        return saturated || magnitude > kMaxPositive ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
    return saturated || magnitude > kMaxPositive ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(magnitude);
}

} // namespace

int64_t ParseInteger(const std::string& text, bool autoBase)
{
    return ParseAnyInteger(text, autoBase);
}

int64_t ParseInteger(const std::u16string& text, bool autoBase)
{
    return ParseAnyInteger(text, autoBase);
}

std::string Printf(const char* format, ...)
{
    char buffer[128];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (length < 0)
        return {};
    if (static_cast<size_t>(length) < sizeof(buffer))
        return std::string(buffer, static_cast<size_t>(length));
    // Floats near their limits print up to 39 digits before the point; give them room.
    std::string out(static_cast<size_t>(length) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(out.data(), out.size(), format, args);
    va_end(args);
    out.pop_back();
    return out;
}

int32_t SaturateToInt32(int64_t value)
{
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

uint32_t ToUnsigned32(int64_t value)
{
    if (value >= 0)
        return static_cast<uint32_t>(std::min<int64_t>(value, std::numeric_limits<uint32_t>::max()));
    return static_cast<uint32_t>(SaturateToInt32(value));
}

// Float to integer conversions saturate: an out-of-range cast is undefined behaviour.
int32_t TruncateToInt32(float value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483648.0f)
        return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0f)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

uint32_t TruncateToUnsigned32(float value)
{
    if (std::isnan(value) || value <= 0.0f)
        return 0;
    if (value >= 4294967296.0f)
        return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(value);
}

int64_t TruncateToInt64(float value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9223372036854775808.0f)
        return std::numeric_limits<int64_t>::max();
    if (value <= -9223372036854775808.0f)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

double ParseDecimal(const std::string& text)
{
    return std::strtod(text.c_str(), nullptr);
}

std::string AsciiPrefix(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text)
    {
        if (c >= 0x80)
            break;
        out.push_back(static_cast<char>(c));
    }
    return out;
}

std::u16string WidenLatin1(const std::string& text)
{
    std::u16string out;
    out.reserve(text.size());
    for (char c : text)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

char16_t UpperWide(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 0x20);
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) || (c >= 0x430 && c <= 0x44F))
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if (c == 0x131)
        return u'I';
    if (c == 0x3C2)
        return 0x3A3;
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    // Latin Extended-A pairs capital and small letters in neighbouring code points.
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return static_cast<char16_t>(c & ~1u);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1u) ? c : static_cast<char16_t>(c - 1);
    return c;
}

} // namespace kr::value
