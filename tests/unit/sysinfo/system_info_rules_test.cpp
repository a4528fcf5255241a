#include "services/system_info_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

TEST(SysInfoRulesTest, CpuSpeedSnapsToSoldFigures)
{
    struct Case
    {
        uint32_t measured;
        uint32_t expected;
    };
    const Case cases[] = {
        // Above 1000 MHz: nearest hundred first.
        {2394, 2400}, {3312, 3300}, {1998, 2000}, {1049, 1000}, {1050, 1100},
        // 200 and above: thirds, halves and the 16 that stays.
        {950, 950}, {933, 933}, {916, 916}, {905, 900}, {985, 1000}, {984, 966}, {959, 966},
        {958, 950}, {943, 950}, {942, 933}, {917, 933}, {200, 200},
        // Below 200: only near-misses of the usual figures move.
        {199, 200}, {195, 195}, {166, 166}, {162, 166}, {170, 166}, {171, 171}, {146, 150},
        {154, 150}, {155, 155}, {129, 133}, {137, 133}, {128, 128}, {105, 105}, {0, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, RoundCpuMhz(c.measured)) << "measured " << c.measured;
}

TEST(SysInfoRulesTest, CpuSpeedOfAbsurdMeasurementDoesNotWrap)
{
    EXPECT_GE(RoundCpuMhz(std::numeric_limits<uint32_t>::max()), 4000000000u);
    EXPECT_GE(RoundCpuMhz(std::numeric_limits<uint32_t>::max() - 40), 4000000000u);
}

TEST(SysInfoRulesTest, MegabytesRoundUpToSixteen)
{
    const uint64_t mb = 1024 * 1024;
    EXPECT_EQ(0u, BytesToRoundedMb(0));
    EXPECT_EQ(16u, BytesToRoundedMb(1));
    EXPECT_EQ(16u, BytesToRoundedMb(16 * mb));
    EXPECT_EQ(32u, BytesToRoundedMb(16 * mb + 1));
    EXPECT_EQ(8192u, BytesToRoundedMb(8192 * mb));
    EXPECT_EQ(8192u, BytesToRoundedMb(8192 * mb - 12345));
    EXPECT_EQ(2048u, BytesToRoundedMb(2047 * mb));
    // A 2 TB disk still fits; anything past the 32-bit range saturates on a multiple of 16.
    EXPECT_EQ(2097152u, BytesToRoundedMb(uint64_t{2} << 40));
    EXPECT_EQ(0xFFFFFFF0u, BytesToRoundedMb(uint64_t{1} << 60));
    EXPECT_EQ(0xFFFFFFF0u, BytesToRoundedMb(std::numeric_limits<uint64_t>::max()));
}

TEST(SysInfoRulesTest, CpuNamesByType)
{
    EXPECT_EQ("Intel 386", CpuNameForType(386));
    EXPECT_EQ("Intel 486", CpuNameForType(486));
    EXPECT_EQ("Intel Pentium", CpuNameForType(586));
    EXPECT_EQ("MIPS", CpuNameForType(4000));
    EXPECT_EQ("Alpha", CpuNameForType(21064));
    EXPECT_EQ("Unknown", CpuNameForType(8664));
    EXPECT_EQ("Unknown", CpuNameForType(0));
}

TEST(SysInfoRulesTest, AudioManufacturersCoverOneTo175)
{
    EXPECT_EQ("Microsoft Corporation", AudioManufacturerName(1));
    EXPECT_EQ("Creative Labs, Inc", AudioManufacturerName(2));
    EXPECT_EQ("Media Vision, Inc.", AudioManufacturerName(3));
    EXPECT_EQ("Fujitsu Corp.", AudioManufacturerName(4));
    EXPECT_EQ("Artisoft, Inc.", AudioManufacturerName(20));
    EXPECT_EQ("Intel Corporation", AudioManufacturerName(33));
    EXPECT_EQ("Brooktree Corporation", AudioManufacturerName(121));
    EXPECT_EQ("ENSONIQ Corporation", AudioManufacturerName(125));
    EXPECT_EQ("NVidia Corporation", AudioManufacturerName(127));
    EXPECT_EQ("SIC Resource Inc.", AudioManufacturerName(175));
    // Every identifier of the range has its company except the three never assigned.
    for (uint32_t id = 1; id <= 175; ++id)
    {
        const bool unassigned = id >= 122 && id <= 124;
        EXPECT_EQ(unassigned, AudioManufacturerName(id) == "Unknown") << "id " << id;
    }
    EXPECT_EQ("Unknown", AudioManufacturerName(0));
    EXPECT_EQ("Unknown", AudioManufacturerName(176));
    EXPECT_EQ("Unknown", AudioManufacturerName(0x10001)); // not folded onto 1
}

TEST(SysInfoRulesTest, GpuVendorsByPciIdentifier)
{
    EXPECT_EQ("ATI", GpuVendorName(0x1002));
    EXPECT_EQ("nVidia", GpuVendorName(0x10DE));
    EXPECT_EQ("nVidia", GpuVendorName(0x12D2));
    EXPECT_EQ("Intel", GpuVendorName(0x8086));
    EXPECT_EQ("3D Labs", GpuVendorName(0x3D3D));
    EXPECT_EQ("3dfx", GpuVendorName(0x1142));
    EXPECT_EQ("S3", GpuVendorName(0x5333));
    EXPECT_EQ("Compaq", GpuVendorName(0x0E11));
    EXPECT_EQ("Unknown", GpuVendorName(0x1AF4));
    EXPECT_EQ("Unknown", GpuVendorName(0));
    EXPECT_EQ("Unknown", GpuVendorName(0x18086)); // not folded onto 0x8086
}

TEST(SysInfoRulesTest, ShaderVersionsAsMajorDotMinor)
{
    EXPECT_FLOAT_EQ(3.0f, ShaderVersionNumber(0xFFFE0300)); // vs_3_0
    EXPECT_FLOAT_EQ(2.0f, ShaderVersionNumber(0xFFFF0200)); // ps_2_0
    EXPECT_FLOAT_EQ(1.4f, ShaderVersionNumber(0xFFFF0104)); // ps_1_4
    EXPECT_FLOAT_EQ(1.1f, ShaderVersionNumber(0xFFFE0101));
    EXPECT_FLOAT_EQ(2.5f, ShaderVersionNumber(0xFFFF0205));
    EXPECT_FLOAT_EQ(2.5f, ShaderVersionNumber(0xFFFF02FF)); // minor 5 or more counts as 5
    EXPECT_FLOAT_EQ(0.0f, ShaderVersionNumber(0));
}

TEST(SysInfoRulesTest, DescriptionTrimmedAtBothEndsOnly)
{
    EXPECT_EQ("NVIDIA GeForce GTX 660", TrimDescription(" \t\r\nNVIDIA GeForce GTX 660\r\n \t"));
    EXPECT_EQ("A \t B", TrimDescription("A \t B"));
    EXPECT_EQ("", TrimDescription(" \r\n\t "));
    EXPECT_EQ("", TrimDescription(""));
    EXPECT_EQ("x", TrimDescription("x\n"));
}

} // namespace
