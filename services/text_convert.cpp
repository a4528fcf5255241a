#include "services/text_convert.h"

#include "platform/codepage.h"

#include <atomic>

namespace {

std::atomic<uint32_t> g_processCodePage{1252};

uint32_t Resolve(uint32_t codePage)
{
    return codePage == kDefaultCodePage ? g_processCodePage.load() : codePage;
}

} // namespace

uint32_t GetProcessCodePage()
{
    return g_processCodePage.load();
}

void SetProcessCodePage(uint32_t codePage)
{
    g_processCodePage.store(codePage);
}

int MultiByteToWide(const char* src, char16_t* dst, int dstChars, uint32_t codePage)
{
    return kr::os::MultiByteToUtf16(Resolve(codePage), src, dst, dstChars);
}

int WideToMultiByte(const char16_t* src, char* dst, int dstBytes, uint32_t codePage)
{
    return kr::os::Utf16ToMultiByte(Resolve(codePage), src, dst, dstBytes);
}

std::u16string ToWide(const std::string& text, uint32_t codePage)
{
    int needed = MultiByteToWide(text.c_str(), nullptr, 0, codePage);
    if (needed <= 0)
        return {};
    std::u16string out(static_cast<size_t>(needed), u'\0');
    if (MultiByteToWide(text.c_str(), out.data(), needed, codePage) != needed)
        return {};
    out.pop_back();
    return out;
}

std::string ToNarrow(const std::u16string& text, uint32_t codePage)
{
    int needed = WideToMultiByte(text.c_str(), nullptr, 0, codePage);
    if (needed <= 0)
        return {};
    std::string out(static_cast<size_t>(needed), '\0');
    if (WideToMultiByte(text.c_str(), out.data(), needed, codePage) != needed)
        return {};
    out.pop_back();
    return out;
}
