#include "services/variant.h"

#include "services/text_convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <regex>

namespace {

CKrVariant Narrow(const char* s)
{
    CKrVariant v;
    v.SetString(s);
    return v;
}

CKrVariant Wide(const char16_t* s)
{
    CKrVariant v;
    v.SetWideString(s);
    return v;
}

CKrVariant FloatWithUnit(float f, int32_t unit)
{
    CKrVariant v;
    v.SetFloat(f);
    v.SetUnit(unit);
    return v;
}

CKrVariant Time(int64_t seconds, int32_t type)
{
    CKrVariant v;
    v.SetRaw(&seconds, sizeof(seconds), type);
    return v;
}

TEST(VariantTest, SettersConvertIntoAnExistingType)
{
    CKrVariant v;
    v.SetType(CKrVariant::kUnsigned);
    v.SetUnsigned(10007);
    EXPECT_EQ(10007u, v.AsUnsigned());
    v.SetType(CKrVariant::kUnsigned);
    v.SetString("abc");
    EXPECT_EQ(0u, v.AsUnsigned());
    v.SetString("42");
    EXPECT_EQ(CKrVariant::kUnsigned, v.GetType());
    EXPECT_EQ(42u, v.AsUnsigned());

    CKrVariant i;
    i.SetInt(5);
    i.SetString("7");
    EXPECT_EQ(CKrVariant::kInt, i.GetType());
    EXPECT_EQ(7, i.AsInt());

    CKrVariant s;
    s.SetString("x");
    s.SetInt(-12);
    EXPECT_EQ(CKrVariant::kString, s.GetType());
    EXPECT_EQ("-12", s.AsText());

    CKrVariant f;
    f.SetType(CKrVariant::kFloat);
    f.SetWideString(u"2.5");
    EXPECT_EQ(2.5f, f.AsFloat());
}

TEST(VariantTest, IntegerReadingsOfText)
{
    EXPECT_EQ(8, Wide(u"010").AsInt());
    EXPECT_EQ(10, Narrow("010").AsInt());
    EXPECT_EQ(31, Wide(u"0x1F").AsInt());
    EXPECT_EQ(0, Wide(u"0x").AsInt());
    EXPECT_EQ(-12, Narrow("  -12abc").AsInt());
    EXPECT_EQ(0, Narrow("abc").AsInt());
    // Out of range saturates, as the Windows runtime's readers do.
    EXPECT_EQ(std::numeric_limits<int32_t>::max(), Narrow("99999999999999999999999").AsInt());
    EXPECT_EQ(std::numeric_limits<int32_t>::min(), Wide(u"-0x80000001").AsInt());
    EXPECT_EQ(4294967295u, Narrow("4294967295").AsUnsigned());
    EXPECT_EQ(4294967295u, Narrow("-1").AsUnsigned());
}

TEST(VariantTest, FloatReadingsAndTruncation)
{
    EXPECT_EQ(2, FloatWithUnit(2.9f, 0).AsInt());
    EXPECT_EQ(-2, FloatWithUnit(-2.9f, 0).AsInt());
    EXPECT_EQ(std::numeric_limits<int32_t>::max(), FloatWithUnit(1e20f, 0).AsInt());
    EXPECT_EQ(0, FloatWithUnit(std::numeric_limits<float>::quiet_NaN(), 0).AsInt());
    EXPECT_EQ(0u, FloatWithUnit(-3.0f, 0).AsUnsigned());
    EXPECT_EQ(3000000000u, FloatWithUnit(3e9f, 0).AsUnsigned());

    CKrVariant percent = Narrow("50");
    percent.SetUnit(CKrVariant::kUnitPercent);
    EXPECT_FLOAT_EQ(0.5f, percent.AsFloat());
    CKrVariant degrees = Wide(u"180");
    degrees.SetUnit(CKrVariant::kUnitDegrees);
    EXPECT_NEAR(3.14159f, degrees.AsFloat(), 1e-4f);
    CKrVariant byte = Narrow("510");
    byte.SetUnit(CKrVariant::kUnitByte);
    EXPECT_EQ(1.0f, byte.AsFloat());
    CKrVariant u;
    u.SetUnsigned(4000000000u);
    EXPECT_EQ(4e9f, u.AsFloat());
}

TEST(VariantTest, TextOfNumbers)
{
    CKrVariant big;
    big.SetUnsigned(4294967295u);
    EXPECT_EQ("-1", big.AsText());
    EXPECT_EQ("0.50", FloatWithUnit(0.5f, CKrVariant::kUnitPlain).AsText());
    EXPECT_EQ("50.00 %", FloatWithUnit(0.5f, CKrVariant::kUnitPercent).AsText());
    EXPECT_EQ("1.50 m", FloatWithUnit(1.5f, CKrVariant::kUnitMetres).AsText());
    EXPECT_EQ("2.00 m/s", FloatWithUnit(2.0f, CKrVariant::kUnitMetresPerSecond).AsText());
    EXPECT_EQ("90.00 \xB0", FloatWithUnit(1.5707964f, CKrVariant::kUnitDegrees).AsText());
    EXPECT_EQ("180.00 \xB0/s", FloatWithUnit(3.1415927f, CKrVariant::kUnitDegreesPerSecond).AsText());
    EXPECT_EQ("51", FloatWithUnit(0.2f, CKrVariant::kUnitByte).AsText());
    EXPECT_EQ(u"90.00 \u00B0", FloatWithUnit(1.5707964f, CKrVariant::kUnitDegrees).AsWideText());
    // The largest float needs more than a small buffer.
    EXPECT_EQ(42u, FloatWithUnit(std::numeric_limits<float>::max(), 0).AsText().size());
}

TEST(VariantTest, EmptyAndGroupValuesHaveEmptyText)
{
    CKrVariant empty;
    EXPECT_EQ("", empty.AsText());
    EXPECT_EQ(u"", empty.AsWideText());
    EXPECT_EQ(0u, empty.TextLength());
    EXPECT_EQ(0, empty.AsInt());
    EXPECT_FALSE(empty.Equals(empty));
    EXPECT_FALSE(Narrow("").Equals(empty));

    // Four floats need 16 bytes even though a fresh value starts with 8.
    CKrVariant group;
    group.SetType(CKrVariant::kFloat4);
    EXPECT_EQ(16u, group.GetSize());
    EXPECT_EQ("", group.AsText());
    CKrVariant same;
    same.SetType(CKrVariant::kFloat4);
    EXPECT_TRUE(group.Equals(same));
}

TEST(VariantTest, NarrowAndWideTextFollowTheCodePage)
{
    CKrVariant label;
    label.SetCodePage(65001);
    label.SetType(CKrVariant::kWideString);
    label.SetString("\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(CKrVariant::kWideString, label.GetType());
    EXPECT_EQ(u"\u00E9t\u00E9", label.AsWideText());
    EXPECT_EQ("\xC3\xA9t\xC3\xA9", label.AsText());
    EXPECT_EQ(3u, label.TextLength());
    label.MakeUpper();
    EXPECT_EQ(u"\u00C9T\u00C9", label.AsWideText());

    CKrVariant cyrillic = Wide(u"\u0438\u0433\u0440\u0430\u0442\u044C \u0451");
    cyrillic.MakeUpper();
    EXPECT_EQ(u"\u0418\u0413\u0420\u0410\u0422\u042C \u0401", cyrillic.AsWideText());

    // Process default (1252): e-acute is one byte.
    EXPECT_EQ("\xE9", Wide(u"\u00E9").AsText());
    EXPECT_EQ(u"\u00E9", Narrow("\xE9").AsWideText());

    // Narrow upper-casing leaves multi-byte sequences alone.
    CKrVariant narrow = Narrow("play \xC3\xA9");
    narrow.MakeUpper();
    EXPECT_EQ("PLAY \xC3\xA9", narrow.AsText());
}

TEST(VariantTest, RawBytesAreReadWithinTheirSize)
{
    CKrVariant shortInt;
    const uint8_t two[2] = {1, 0};
    shortInt.SetRaw(two, 2, CKrVariant::kInt);
    EXPECT_EQ(1, shortInt.AsInt());

    CKrVariant unterminated;
    unterminated.SetRaw("abcdef", 3, CKrVariant::kString);
    EXPECT_EQ("abc", unterminated.AsText());
    EXPECT_EQ(3u, unterminated.TextLength());

    CKrVariant oddWide;
    oddWide.SetRaw(u"xy", 3, CKrVariant::kWideString);
    EXPECT_EQ(u"x", oddWide.AsWideText());
}

TEST(VariantTest, CopiesOwnTheirBytes)
{
    char buffer[8];
    std::strcpy(buffer, "view");
    CKrVariant view;
    view.SetView(buffer, CKrVariant::kString);
    EXPECT_EQ(5u, view.GetSize());
    CKrVariant copy(view);
    CKrVariant moved(std::move(view));
    buffer[0] = 'V';
    EXPECT_EQ("view", copy.AsText());
    EXPECT_EQ("View", moved.AsText());
    moved.MakeUpper();
    EXPECT_EQ("View", std::string(buffer));
    EXPECT_EQ("VIEW", moved.AsText());
}

TEST(VariantTest, AssignAndEquals)
{
    CKrVariant target;
    target.Assign(Narrow("12"));
    EXPECT_EQ(CKrVariant::kString, target.GetType());
    EXPECT_TRUE(target.Equals(Wide(u"12")));

    CKrVariant number;
    number.SetInt(12);
    EXPECT_TRUE(number.Equals(target));
    EXPECT_FALSE(number.Equals(Narrow("13")));
    number.Assign(Wide(u"014"));
    EXPECT_EQ(12, number.AsInt());
    EXPECT_EQ("12", number.AsText());

    CKrVariant percent = FloatWithUnit(0.1f, CKrVariant::kUnitPercent);
    percent.Assign(FloatWithUnit(0.25f, 0));
    EXPECT_EQ("25.00 %", percent.AsText());

    CKrVariant when;
    when.SetType(CKrVariant::kDateTime);
    when.SetUnsigned(86400);
    EXPECT_EQ(86400, when.AsTime());
    CKrVariant text;
    text.SetType(CKrVariant::kString);
    text.Assign(when);
    EXPECT_EQ(when.AsDisplayText(), text.AsText());
}

TEST(VariantTest, TimeTexts)
{
    // 2021-06-15 11:00:07 UTC: whole-hour zones keep the minutes and seconds.
    const int64_t t = 1623754807;
    std::string date = Time(t, CKrVariant::kDate).AsText();
    std::string time = Time(t, CKrVariant::kTimeOfDay).AsText();
    EXPECT_TRUE(std::regex_match(date, std::regex("20\\d\\d-\\d\\d-\\d\\d"))) << date;
    EXPECT_TRUE(std::regex_match(time, std::regex("\\d\\d:\\d\\d:\\d\\d"))) << time;
    EXPECT_EQ(date + " " + time, Time(t, CKrVariant::kDateTime).AsText());
    EXPECT_FALSE(Time(t, CKrVariant::kDateTime).AsDisplayText().empty());

    std::u16string wideDate = Time(t, CKrVariant::kDate).AsWideText();
    std::u16string wideTime = Time(t, CKrVariant::kTimeOfDay).AsWideText();
    EXPECT_FALSE(wideDate.empty());
    EXPECT_FALSE(wideTime.empty());
    EXPECT_EQ(wideDate + u" " + wideTime, Time(t, CKrVariant::kDateTime).AsWideText());

    // Moments the platform cannot represent give empty text, not garbage.
    EXPECT_EQ("", Time(std::numeric_limits<int64_t>::max(), CKrVariant::kDateTime).AsText());
    EXPECT_EQ(-1, Time(0xFFFFFFFFll, CKrVariant::kDate).AsInt());
}

} // namespace
