#include "platform/codepage.h"
#include "platform/unicode_tables.h"

#include <cstring>
#include <string>

namespace kr::os {

int MultiByteToUtf16(uint32_t codePage, const char* src, char16_t* dst, int dstCount)
{
    std::u16string wide;
    if (!src || !kr::text::DecodeToUtf16(codePage, src, wide))
        return 0;
    int needed = static_cast<int>(wide.size()) + 1;
    if (!dst || dstCount == 0)
        return needed;
    if (dstCount < needed)
        return 0;
    std::memcpy(dst, wide.c_str(), sizeof(char16_t) * static_cast<size_t>(needed));
    return needed;
}

int Utf16ToMultiByte(uint32_t codePage, const char16_t* src, char* dst, int dstCount)
{
    std::string narrow;
    if (!src || !kr::text::EncodeFromUtf16(codePage, src, narrow))
        return 0;
    int needed = static_cast<int>(narrow.size()) + 1;
    if (!dst || dstCount == 0)
        return needed;
    if (dstCount < needed)
        return 0;
    std::memcpy(dst, narrow.c_str(), static_cast<size_t>(needed));
    return needed;
}

} // namespace kr::os
