#include "platform/localtime.h"

#include <windows.h>

namespace kr::os {

bool LocalTimeOf(int64_t unixSeconds, std::tm& out)
{
    __time64_t t = static_cast<__time64_t>(unixSeconds);
    return _localtime64_s(&out, &t) == 0;
}

namespace {

SYSTEMTIME ToSystemTime(const std::tm& local)
{
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(local.tm_year + 1900);
    st.wMonth = static_cast<WORD>(local.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(local.tm_wday);
    st.wDay = static_cast<WORD>(local.tm_mday);
    st.wHour = static_cast<WORD>(local.tm_hour);
    st.wMinute = static_cast<WORD>(local.tm_min);
    st.wSecond = static_cast<WORD>(local.tm_sec);
    return st;
}

} // namespace

std::u16string LocaleShortDate(const std::tm& local)
{
    SYSTEMTIME st = ToSystemTime(local);
    wchar_t buffer[128];
    int written = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE | LOCALE_NOUSEROVERRIDE, &st, nullptr, buffer, 128);
    if (written <= 0)
        return {};
    return std::u16string(reinterpret_cast<const char16_t*>(buffer));
}

std::u16string LocaleShortTime(const std::tm& local)
{
    SYSTEMTIME st = ToSystemTime(local);
    wchar_t buffer[128];
    int written = GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_NOSECONDS | LOCALE_NOUSEROVERRIDE, &st, nullptr, buffer, 128);
    if (written <= 0)
        return {};
    return std::u16string(reinterpret_cast<const char16_t*>(buffer));
}

} // namespace kr::os
