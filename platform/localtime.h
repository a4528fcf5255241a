#pragma once
// Operating-system seam: local time and the user's locale forms of dates and times.
#include <cstdint>
#include <ctime>
#include <string>

namespace kr::os {

// Broken-down local time of `unixSeconds` (seconds since 1970-01-01 UTC); false when the platform
// cannot represent that moment.
bool LocalTimeOf(int64_t unixSeconds, std::tm& out);

// The user's short date form, and the time form without seconds, of a local time; empty on failure.
std::u16string LocaleShortDate(const std::tm& local);
std::u16string LocaleShortTime(const std::tm& local);

} // namespace kr::os
