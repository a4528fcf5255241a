#include "services/system_info_rules.h"

#include <gtest/gtest.h>

namespace {

using kr::os::OsVersionFacts;

OsVersionFacts Version(uint32_t major, uint32_t minor, uint8_t productType, uint16_t architecture)
{
    OsVersionFacts f;
    f.major = major;
    f.minor = minor;
    f.build = 7601;
    f.platformId = kr::os::kPlatformNt;
    f.productType = productType;
    f.architecture = architecture;
    return f;
}

constexpr uint8_t kWorkstation = 1;
constexpr uint8_t kServer = 3;

KrOsNames Named(const OsVersionFacts& f)
{
    KrOsNames names;
    EXPECT_TRUE(NameWindowsVersion(f, names));
    return names;
}

TEST(SysInfoOsNamingTest, Windows7UltimateOn64Bit)
{
    OsVersionFacts f = Version(6, 1, kWorkstation, kr::os::kArchX64);
    f.hasProductInfo = true;
    f.productInfoType = 1;
    f.csdVersion = "Service Pack 1";
    KrOsNames n = Named(f);
    EXPECT_EQ("Windows 7", n.osName);
    EXPECT_EQ("Ultimate Edition", n.osEdition);
    EXPECT_EQ("Windows 7 Ultimate Edition, 64-bit", n.osFullName);
    EXPECT_EQ(64u, n.osBits);
    EXPECT_EQ("Service Pack 1", n.servicePack);
    EXPECT_EQ(7601u, n.osBuild);
}

TEST(SysInfoOsNamingTest, Version6EditionsAndBitness)
{
    OsVersionFacts f = Version(6, 1, kWorkstation, kr::os::kArchX86);
    f.hasProductInfo = true;
    f.productInfoType = 48;
    KrOsNames n = Named(f);
    EXPECT_EQ("Windows 7 Professional, 32-bit", n.osFullName);
    EXPECT_EQ(32u, n.osBits);
    EXPECT_EQ("", n.servicePack);

    // A product type without an entry: the blank stays before the comma.
    f = Version(6, 1, kWorkstation, kr::os::kArchX64);
    f.hasProductInfo = true;
    f.productInfoType = 0x65;
    n = Named(f);
    EXPECT_EQ("", n.osEdition);
    EXPECT_EQ("Windows 7 , 64-bit", n.osFullName);

    // Without GetProductInfo there is no edition at all, whatever the type field holds.
    f = Version(6, 0, kServer, kr::os::kArchX64);
    f.productInfoType = 8;
    n = Named(f);
    EXPECT_EQ("Windows Server 2008", n.osName);
    EXPECT_EQ("Windows Server 2008 , 64-bit", n.osFullName);

    f = Version(6, 1, kServer, kr::os::kArchX64);
    f.hasProductInfo = true;
    f.productInfoType = 12;
    EXPECT_EQ("Windows Server 2008 R2 Datacenter Edition (core installation), 64-bit", Named(f).osFullName);
    EXPECT_EQ("Windows Vista", Named(Version(6, 0, kWorkstation, kr::os::kArchX86)).osName);
    EXPECT_EQ("Windows 8", Named(Version(6, 2, kWorkstation, kr::os::kArchX86)).osName);
    EXPECT_EQ("Windows 8 Server", Named(Version(6, 2, kServer, kr::os::kArchX86)).osName);

    // Other architectures add no bitness and keep 32; unknown minors leave the name empty.
    n = Named(Version(6, 1, kServer, kr::os::kArchItanium));
    EXPECT_EQ("Windows Server 2008 R2 ", n.osFullName);
    EXPECT_EQ(32u, n.osBits);
    n = Named(Version(6, 3, kWorkstation, kr::os::kArchX64));
    EXPECT_EQ("", n.osName);
    EXPECT_EQ(" , 64-bit", n.osFullName);
}

TEST(SysInfoOsNamingTest, ProductEditionTable)
{
    EXPECT_EQ("Enterprise Edition", ProductEditionName(4));
    EXPECT_EQ("Enterprise Edition", ProductEditionName(10));
    EXPECT_EQ("Home Premium Edition", ProductEditionName(3));
    EXPECT_EQ("Small Business Server Premium Edition", ProductEditionName(25));
    EXPECT_EQ("", ProductEditionName(5));
    EXPECT_EQ("", ProductEditionName(16));
    EXPECT_EQ("", ProductEditionName(0));
}

TEST(SysInfoOsNamingTest, WindowsXpProfessionalX64)
{
    KrOsNames n = Named(Version(5, 2, kWorkstation, kr::os::kArchX64));
    EXPECT_EQ("Windows XP", n.osName);
    EXPECT_EQ("Professional", n.osEdition);
    EXPECT_EQ(64u, n.osBits);
    // Bitness text is only appended from version 6 on.
    EXPECT_EQ("Windows XP Professional", n.osFullName);
}

TEST(SysInfoOsNamingTest, Server2003Family)
{
    OsVersionFacts f = Version(5, 2, kServer, kr::os::kArchX86);
    KrOsNames n = Named(f);
    EXPECT_EQ("Windows Server 2003, ", n.osName);
    EXPECT_EQ("Standard Edition", n.osEdition);
    EXPECT_EQ(32u, n.osBits);

    f.serverR2 = 1;
    f.suiteMask = 0x2000 | 0x80;
    n = Named(f);
    EXPECT_EQ("Windows Server 2003 R2", n.osName);
    EXPECT_EQ("Datacenter Edition", n.osEdition);

    f.serverR2 = 0;
    EXPECT_EQ("Windows Storage Server 2003", Named(f).osName);
    f.suiteMask = 0x8000;
    EXPECT_EQ("Windows Home Server", Named(f).osName);

    struct Case
    {
        uint16_t architecture;
        uint16_t suite;
        const char* edition;
    };
    const Case cases[] = {
        {kr::os::kArchItanium, 0x80, "Datacenter Edition for Itanium-based Systems"},
        {kr::os::kArchItanium, 0x2, "Enterprise Edition for Itanium-based Systems"},
        {kr::os::kArchItanium, 0, ""},
        {kr::os::kArchX64, 0x80 | 0x2, "Datacenter x64 Edition"},
        {kr::os::kArchX64, 0x2, "Enterprise x64 Edition"},
        {kr::os::kArchX64, 0x400, "Standard x64 Edition"},
        {kr::os::kArchX86, 0x4000 | 0x80, "Compute Cluster Edition"},
        {kr::os::kArchX86, 0x80 | 0x2, "Datacenter Edition"},
        {kr::os::kArchX86, 0x2 | 0x400, "Enterprise Edition"},
        {kr::os::kArchX86, 0x400, "Web Edition"},
    };
    for (const Case& c : cases)
    {
        f = Version(5, 2, kServer, c.architecture);
        f.suiteMask = c.suite;
        EXPECT_EQ(c.edition, Named(f).osEdition) << "arch " << c.architecture << " suite " << c.suite;
    }
    // A 2003 server on x64 is not taken for XP x64.
    n = Named(Version(5, 2, kServer, kr::os::kArchX64));
    EXPECT_EQ("Windows Server 2003, ", n.osName);
    EXPECT_EQ(32u, n.osBits);
}

TEST(SysInfoOsNamingTest, XpAnd2000)
{
    OsVersionFacts f = Version(5, 1, kWorkstation, kr::os::kArchX86);
    f.suiteMask = 0x200;
    f.csdVersion = "Service Pack 3";
    KrOsNames n = Named(f);
    EXPECT_EQ("Windows XP Home Edition", n.osFullName);
    EXPECT_EQ("Service Pack 3", n.servicePack);
    f.suiteMask = 0;
    EXPECT_EQ("Windows XP Professional", Named(f).osFullName);

    f = Version(5, 0, kWorkstation, kr::os::kArchX86);
    f.suiteMask = 0x80;
    EXPECT_EQ("Windows 2000 Professional", Named(f).osFullName);
    f.productType = kServer;
    EXPECT_EQ("Datacenter Server", Named(f).osEdition);
    f.suiteMask = 0x2;
    EXPECT_EQ("Advanced Server", Named(f).osEdition);
    f.suiteMask = 0;
    EXPECT_EQ("Server", Named(f).osEdition);
}

TEST(SysInfoOsNamingTest, OldOrNonNtSystemsAreNotNamed)
{
    KrOsNames names;
    names.osName = "kept";
    OsVersionFacts f = Version(4, 0, kWorkstation, kr::os::kArchX86);
    EXPECT_FALSE(NameWindowsVersion(f, names));
    f = Version(5, 1, kWorkstation, kr::os::kArchX86);
    f.platformId = 1; // Windows 9x
    EXPECT_FALSE(NameWindowsVersion(f, names));
    EXPECT_EQ("kept", names.osName);
}

TEST(SysInfoOsNamingTest, OtherSystemsByKernelName)
{
    OsVersionFacts f;
    KrOsNames names;
    EXPECT_FALSE(NameOtherSystem(f, names));
    f.otherSystemName = "Linux 6.1.0";
    f.architecture = kr::os::kArchX64;
    ASSERT_TRUE(NameOtherSystem(f, names));
    EXPECT_EQ("Linux 6.1.0", names.osName);
    EXPECT_EQ("Linux 6.1.0, 64-bit", names.osFullName);
    EXPECT_EQ(64u, names.osBits);
    f.architecture = kr::os::kArchX86;
    ASSERT_TRUE(NameOtherSystem(f, names));
    EXPECT_EQ("Linux 6.1.0, 32-bit", names.osFullName);
    EXPECT_EQ(32u, names.osBits);
}

} // namespace
