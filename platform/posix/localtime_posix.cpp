#include "platform/localtime.h"

#include "platform/codepage.h"

#include <vector>

namespace kr::os {

bool LocalTimeOf(int64_t unixSeconds, std::tm& out)
{
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    if (static_cast<int64_t>(t) != unixSeconds)
        return false;
    return localtime_r(&t, &out) != nullptr;
}

namespace {

// The locale's own short date is wanted here, whatever it does with the year.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
std::u16string Format(const std::tm& local, bool date)
{
    char buffer[128];
    size_t length = date ? std::strftime(buffer, sizeof(buffer), "%x", &local)
                         : std::strftime(buffer, sizeof(buffer), "%H:%M", &local);
    if (length == 0)
        return {};
    int needed = MultiByteToUtf16(kCodePageUtf8, buffer, nullptr, 0);
    if (needed <= 0)
        return {};
    std::vector<char16_t> wide(static_cast<size_t>(needed));
    if (MultiByteToUtf16(kCodePageUtf8, buffer, wide.data(), needed) != needed)
        return {};
    return std::u16string(wide.data());
}
#pragma GCC diagnostic pop

} // namespace

std::u16string LocaleShortDate(const std::tm& local)
{
    return Format(local, true);
}

std::u16string LocaleShortTime(const std::tm& local)
{
    return Format(local, false);
}

} // namespace kr::os
