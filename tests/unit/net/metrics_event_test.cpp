#include "services/metrics.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>

namespace {

TEST(MetricsEventTest, UtcTimeFormatMatchesTheCalendar)
{
    EXPECT_EQ("1970-01-01 00:00:00", FormatUtcTime(0));
    EXPECT_EQ("2000-02-29 12:34:56", FormatUtcTime(951827696));
    EXPECT_EQ("2000-03-01 00:00:00", FormatUtcTime(951868800));
    EXPECT_EQ("2038-01-19 03:14:08", FormatUtcTime(2147483648LL)); // past the 32-bit time_t limit
    EXPECT_EQ("2100-03-01 00:00:00", FormatUtcTime(4107542400LL)); // 2100 is not a leap year
    EXPECT_EQ("1969-12-31 23:59:59", FormatUtcTime(-1));
}

TEST(MetricsEventTest, CreateEventWritesTypeThenCurrentUtcTime)
{
    CKrJsonDocument doc;
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    CreateEvent(doc, 10007);
    const int64_t after = static_cast<int64_t>(std::time(nullptr));
    std::string text;
    doc.ToString(text);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, std::regex(R"re(\{"event_type":10007,"time":"([0-9 :-]{19})"\})re"))) << text;
    EXPECT_TRUE(m[1] == FormatUtcTime(before) || m[1] == FormatUtcTime(after)) << m[1];
}

} // namespace
