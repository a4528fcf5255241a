#include "services/process_utils.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcessTest, OwnExecutableIsFoundAmongRunningProcesses)
{
    std::string name = GetExecutableName();
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(std::string::npos, name.find_first_of("\\/"));
    EXPECT_GE(CountProcessesByName(name), 1);
}

TEST(ProcessTest, NameComparisonIgnoresAsciiCaseOnly)
{
    EXPECT_TRUE(EqualsNoCase("QuorvaleOnlineLauncher.EXE", "quorvaleonlinelauncher.exe"));
    EXPECT_FALSE(EqualsNoCase("a.exe", "a.ex"));
    EXPECT_EQ(0, CountProcessesByName("no-such-process-name.exe"));
}

} // namespace
