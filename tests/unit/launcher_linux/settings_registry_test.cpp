// The settings file behind the Linux registry port: what the launcher stores survives a new process,
// damaged or foreign files never crash it, and a file that cannot be written is an error.
#include "launcher/linux/settings_registry.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace
{

using Access = IKrRegistryPort::Access;

TEST(SettingsRegistryTest, KeysAndValuesSurviveANewPortAndIgnoreCase)
{
    kr::test::TempDir dir;
    const std::string file = dir.Path() + "config/QuorvaleOnline/settings"; // two missing folders
    {
        CKrSettingsRegistry registry(file);
        EXPECT_EQ(registry.OpenKey("Software\\Vintrell\\quorvaleonline", Access::Read), kKrErrorFileNotFound);
        EXPECT_EQ(registry.WriteString("Software\\Vintrell\\quorvaleonline", "user", "x"), kKrErrorFileNotFound)
            << "a value needs its key";
        EXPECT_EQ(registry.CreateKey("Software\\Vintrell\\quorvaleonline"), kKrErrorSuccess);
        EXPECT_EQ(registry.WriteString("Software\\Vintrell\\quorvaleonline", "user", "tab\there\nline\\end"),
                  kKrErrorSuccess);
        EXPECT_EQ(registry.CreateKey("SOFTWARE\\vintrell\\QuorvaleOnline"), kKrErrorSuccess);
    }
    CKrSettingsRegistry again(file);
    EXPECT_EQ(again.OpenKey("software\\VINTRELL\\quorvaleonline", Access::QueryAndSet), kKrErrorSuccess);
    std::string value;
    EXPECT_EQ(again.ReadString("Software\\Vintrell\\quorvaleonline", "USER", value, 255), kKrErrorSuccess);
    EXPECT_EQ(value, "tab\there\nline\\end") << "the second CreateKey kept the value";
    EXPECT_EQ(again.ReadString("Software\\Vintrell\\quorvaleonline", "user", value, 3), kKrErrorSuccess);
    EXPECT_EQ(value, "tab");
    EXPECT_EQ(again.ReadString("Software\\Vintrell\\quorvaleonline", "other", value, 255), kKrErrorFileNotFound);
    EXPECT_EQ(value, "tab") << "a failed read leaves the value alone";

    // As a REG_SZ read, the text ends at its first zero.
    EXPECT_EQ(again.WriteString("Software\\Vintrell\\quorvaleonline", "user", std::string("ab\0cd", 5)),
              kKrErrorSuccess);
    EXPECT_EQ(again.ReadString("Software\\Vintrell\\quorvaleonline", "user", value, 255), kKrErrorSuccess);
    EXPECT_EQ(value, "ab");
}

TEST(SettingsRegistryTest, DamagedLinesAreDroppedAndTheRestIsRead)
{
    CKrSettingsRegistry::Keys keys;
    EXPECT_FALSE(CKrSettingsRegistry::Parse("# header\nK\tk1\nV\tk1\tuser\tok\\tvalue\nV\tk1\tbad\t\\q\n"
                                            "garbage line\nV\tk2\tonly three\nK\t\nV\tk1\tuser2\tend\\",
                                            keys));
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys["k1"], (CKrSettingsRegistry::Values{{"user", "ok\tvalue"}}));

    CKrSettingsRegistry::Keys all{{"a\\b", {{"", "default"}, {"n\ta", std::string("x\0\r\n", 4)}}}, {"empty", {}}};
    CKrSettingsRegistry::Keys back;
    EXPECT_TRUE(CKrSettingsRegistry::Parse(CKrSettingsRegistry::Format(all), back));
    EXPECT_EQ(back, all);
}

TEST(SettingsRegistryTest, AFileThatCannotBeWrittenOrReadIsAnError)
{
    kr::test::TempDir dir;
    // The settings folder's place is taken by a file.
    kr::test::WriteWholeFile(dir.Path() + "QuorvaleOnline", "not a folder");
    CKrSettingsRegistry blocked(dir.Path() + "QuorvaleOnline/settings");
    EXPECT_NE(blocked.CreateKey("k"), kKrErrorSuccess);
    EXPECT_NE(blocked.OpenKey("k", Access::Read), kKrErrorSuccess);

    // Far too large to be ours: read as an error, never half-read.
    const std::string large = dir.Path() + "large";
    kr::test::WriteWholeFile(large, "K\tk\n" + std::string(2 << 20, '#'));
    CKrSettingsRegistry oversized(large);
    EXPECT_NE(oversized.OpenKey("k", Access::Read), kKrErrorSuccess);
    EXPECT_NE(oversized.CreateKey("other"), kKrErrorSuccess) << "an unreadable file is never overwritten";
    EXPECT_EQ(kr::test::ReadWholeFile(large).size(), (2u << 20) + 4);
}

} // namespace
