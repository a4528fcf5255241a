#include "services/text_convert.h"

#include <gtest/gtest.h>

namespace {

TEST(TextConvertTest, Cp1252CoversTheWindowsSpecificRange)
{
    // Euro sign, left double quote, e-acute and the unassigned 0x81.
    std::u16string wide = ToWide("\x80\x93\xE9\x81", 1252);
    EXPECT_EQ(u"\u20AC\u201C\u00E9\u0081", wide);
    EXPECT_EQ("\x80\x93\xE9\x81", ToNarrow(wide, 1252));
    EXPECT_EQ("?", ToNarrow(u"\u4E2D", 1252));
}

TEST(TextConvertTest, Utf8RoundTripsIncludingSurrogatePairs)
{
    std::string utf8 = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";
    std::u16string wide = ToWide(utf8, 65001);
    EXPECT_EQ(u"a\u00E9\u4E2D\U0001F600", wide);
    EXPECT_EQ(utf8, ToNarrow(wide, 65001));
}

TEST(TextConvertTest, InvalidUtf8BecomesReplacementCharacters)
{
    EXPECT_EQ(u"a\uFFFDb", ToWide("a\xFF" "b", 65001));
    EXPECT_EQ(u"\uFFFDz", ToWide("\xC3z", 65001));
}

TEST(TextConvertTest, CountsIncludeTheTerminatorAndShortBuffersFail)
{
    EXPECT_EQ(4, MultiByteToWide("abc", nullptr, 0, 1252));
    char16_t small[2];
    EXPECT_EQ(0, MultiByteToWide("abc", small, 2, 1252));
    char16_t exact[4];
    EXPECT_EQ(4, MultiByteToWide("abc", exact, 4, 1252));
    EXPECT_EQ(u"abc", std::u16string(exact));
    EXPECT_EQ(3, WideToMultiByte(u"\u00E9\u00E8", nullptr, 0, 1252));
}

TEST(TextConvertTest, DefaultCodePageIs1252UntilChanged)
{
    ASSERT_EQ(1252u, GetProcessCodePage());
    EXPECT_EQ(u"\u00E9", ToWide("\xE9"));
    SetProcessCodePage(65001);
    EXPECT_EQ(u"\u00E9", ToWide("\xC3\xA9", kDefaultCodePage));
    SetProcessCodePage(1252);
}

} // namespace
