#include "platform/codepage.h"

#include <windows.h>

namespace kr::os {

int MultiByteToUtf16(uint32_t codePage, const char* src, char16_t* dst, int dstCount)
{
    return MultiByteToWideChar(codePage, 0, src, -1, reinterpret_cast<wchar_t*>(dst), dst ? dstCount : 0);
}

int Utf16ToMultiByte(uint32_t codePage, const char16_t* src, char* dst, int dstCount)
{
    return WideCharToMultiByte(codePage, 0, reinterpret_cast<const wchar_t*>(src), -1, dst, dst ? dstCount : 0,
                               nullptr, nullptr);
}

} // namespace kr::os
