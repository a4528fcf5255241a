#include "services/system_info.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(SystemInfoTest, AudioDeviceAndItsCapabilityBits)
{
    CKrSystemInfo info;
    kr::os::AudioFacts device;
    device.present = true;
    device.productId = 104;
    device.manufacturerId = 2;
    device.deviceName = "SB Live! Wave Device";
    device.support = 0x1 | 0x4 | 0x8; // pitch, volume, left/right volume
    info.ApplyAudio(device);
    EXPECT_EQ(1u, info.hasAudio);
    EXPECT_EQ(104u, info.audioProductId);
    EXPECT_EQ(2u, info.audioManufacturerId);
    EXPECT_EQ("SB Live! Wave Device", info.audioDeviceName);
    EXPECT_EQ("Creative Labs, Inc", info.audioManufacturer);
    EXPECT_EQ(1u, info.audioPitch);
    EXPECT_EQ(1u, info.audioPitch2);
    EXPECT_EQ(1u, info.audioLrVolume);

    device.support = 0x2 | 0x4; // playback rate and volume only
    device.manufacturerId = 122;
    info.ApplyAudio(device);
    EXPECT_EQ(0u, info.audioPitch);
    EXPECT_EQ(0u, info.audioPitch2);
    EXPECT_EQ(0u, info.audioLrVolume);
    EXPECT_EQ("Unknown", info.audioManufacturer);

    // No device afterwards: nothing of the earlier one is left behind.
    info.audioPitch = info.audioLrVolume = 1;
    info.ApplyAudio(kr::os::AudioFacts());
    EXPECT_EQ(0u, info.hasAudio);
    EXPECT_EQ("", info.audioDeviceName);
    EXPECT_EQ("", info.audioManufacturer);
    EXPECT_EQ(0u, info.audioPitch);
    EXPECT_EQ(0u, info.audioLrVolume);
}

TEST(SystemInfoTest, GraphicsFromDirect3DOrDesktopOnly)
{
    kr::os::GraphicsFacts facts;
    facts.desktopWidth = 1024;
    facts.desktopHeight = 768;
    facts.vendorId = 0x10DE;
    facts.deviceId = 0x11C0;
    facts.description = "  NVIDIA GeForce GTX 660\r\n";
    facts.modeWidth = 1920;
    facts.modeHeight = 1080;
    facts.modeRefreshRate = 75;
    facts.vertexShaderVersion = 0xFFFE0300;
    facts.pixelShaderVersion = 0xFFFF0104;
    facts.deviceCaps.assign(304, 0xAB);
    facts.adapterIdentifier.assign(1100, 0xCD);

    CKrSystemInfo info;
    EXPECT_TRUE(info.ApplyGraphics(true, facts));
    EXPECT_EQ(1u, info.d3dAvailable);
    EXPECT_EQ("NVIDIA GeForce GTX 660", info.gpuDescription);
    EXPECT_EQ("nVidia", info.gpuVendor);
    EXPECT_EQ(0x11C0u, info.gpuDeviceId);
    EXPECT_EQ(1920u, info.screenWidth);
    EXPECT_EQ(1080u, info.screenHeight);
    EXPECT_EQ(75u, info.refreshRate);
    EXPECT_FLOAT_EQ(3.0f, info.vertexShaderVersion);
    EXPECT_FLOAT_EQ(1.4f, info.pixelShaderVersion);
    EXPECT_EQ(facts.deviceCaps, info.deviceCaps);
    EXPECT_EQ(facts.adapterIdentifier, info.adapterIdentifier);

    facts.vendorId = 0x1AF4;
    EXPECT_TRUE(info.ApplyGraphics(true, facts));
    EXPECT_EQ("Unknown", info.gpuVendor);

    // Direct3D missing: desktop size and 60 Hz, not the earlier display mode.
    CKrSystemInfo without;
    EXPECT_FALSE(without.ApplyGraphics(false, facts));
    EXPECT_EQ(0u, without.d3dAvailable);
    EXPECT_EQ(1024u, without.screenWidth);
    EXPECT_EQ(768u, without.screenHeight);
    EXPECT_EQ(60u, without.refreshRate);
    EXPECT_EQ("", without.gpuDescription);
    EXPECT_TRUE(without.deviceCaps.empty());
}

TEST(SystemInfoTest, CpuMemoryMouseAndOsSteps)
{
    CKrSystemInfo info;
    kr::os::CpuFacts cpu;
    cpu.count = 4;
    cpu.type = 586;
    cpu.level = 6;
    cpu.revision = 0x3A09;
    info.ApplyCpu(cpu, 3312);
    EXPECT_EQ("Intel Pentium", info.cpuName);
    EXPECT_EQ(3300u, info.cpuMhz);
    EXPECT_EQ(0x3A09u, info.cpuRevision);

    kr::os::MemoryDiskFacts memory;
    memory.totalPhysical = uint64_t{8} << 30;
    memory.availablePhysical = 1;
    memory.diskTotal = (uint64_t{500} << 30) + 5;
    memory.diskFree = 0;
    info.ApplyMemoryAndDisk(memory);
    EXPECT_EQ(8192u, info.totalRamMb);
    EXPECT_EQ(16u, info.freeRamMb);
    EXPECT_EQ(512016u, info.diskTotalMb);
    EXPECT_EQ(0u, info.diskFreeMb);

    kr::os::MouseFacts mouse;
    mouse.present = true;
    mouse.buttonsSwapped = true;
    mouse.acceleration = 1;
    info.ApplyMouse(mouse);
    EXPECT_EQ(1u, info.hasMouse);
    EXPECT_EQ(1u, info.mouseButtonsSwapped);
    info.ApplyMouse(kr::os::MouseFacts());
    EXPECT_EQ(0u, info.hasMouse);
    EXPECT_EQ(0u, info.mouseButtonsSwapped);

    kr::os::OsVersionFacts os;
    os.platformId = 1; // Windows 98: not named, fields untouched
    os.major = 4;
    EXPECT_FALSE(info.ApplyOsVersion(os));
    EXPECT_EQ("", info.osFullName);
    os.platformId = kr::os::kPlatformNt;
    os.major = 6;
    os.minor = 1;
    os.productType = kr::os::kProductWorkstation;
    os.architecture = kr::os::kArchX64;
    os.hasProductInfo = true;
    os.productInfoType = 1;
    EXPECT_TRUE(info.ApplyOsVersion(os));
    EXPECT_EQ("Windows 7 Ultimate Edition, 64-bit", info.osFullName);
    EXPECT_EQ(64u, info.osBits);
}

TEST(SystemInfoTest, GatherOnThisMachineGivesPlausibleValues)
{
    CKrSystemInfo info;
    const bool all = info.Gather();
    std::printf("[ gathered ] os \"%s\" (%s, %u-bit, build %u) ram %u/%u MB disk %u/%u MB cpu \"%s\" x%u "
                "%u MHz computer \"%s\" user \"%s\" language \"%s\" keyboard \"%s\" cp %d/%d audio %u "
                "\"%s\" (%s) mouse %u screen %ux%u@%u d3d %u \"%s\" (%s) vs %.1f ps %.1f -> %s\n",
                info.osFullName.c_str(), info.osName.c_str(), info.osBits, info.osBuild, info.freeRamMb,
                info.totalRamMb, info.diskFreeMb, info.diskTotalMb, info.cpuName.c_str(), info.cpuCount,
                info.cpuMhz, info.computerName.c_str(), info.userName.c_str(), info.systemLanguage.c_str(),
                info.keyboardCountry.c_str(), info.oemCodePage, info.ansiCodePage, info.hasAudio,
                info.audioDeviceName.c_str(), info.audioManufacturer.c_str(), info.hasMouse,
                info.screenWidth, info.screenHeight, info.refreshRate, info.d3dAvailable,
                info.gpuDescription.c_str(), info.gpuVendor.c_str(), info.vertexShaderVersion,
                info.pixelShaderVersion, all ? "all steps" : "stopped early");

    EXPECT_GT(info.totalRamMb, 0u);
    EXPECT_EQ(0u, info.totalRamMb % 16);
    EXPECT_EQ(0u, info.freeRamMb % 16);
    EXPECT_LE(info.freeRamMb, info.totalRamMb);
    EXPECT_GT(info.diskTotalMb, 0u);
    EXPECT_GE(info.diskTotalMb, info.diskFreeMb);
    EXPECT_GE(info.cpuCount, 1u);
    EXPECT_LT(info.computerName.size(), 16u);
    EXPECT_LT(info.userName.size(), 16u);
    EXPECT_FALSE(info.osName.empty());
    EXPECT_TRUE(info.osBits == 32 || info.osBits == 64);
    if (info.hasAudio == 0)
    {
        EXPECT_EQ("", info.audioDeviceName);
        EXPECT_EQ("", info.audioManufacturer);
    }
    if (info.d3dAvailable)
    {
        EXPECT_FALSE(info.deviceCaps.empty());
        EXPECT_FALSE(info.adapterIdentifier.empty());
        EXPECT_GT(info.screenWidth, 0u);
    }
#ifdef _WIN32
    EXPECT_FALSE(info.osFullName.empty());
    EXPECT_GT(info.osBuild, 0u);
    EXPECT_GT(info.cpuMhz, 0u);
    EXPECT_FALSE(info.cpuName.empty());
#endif
}

} // namespace
