#pragma once
#include "platform/sysinfo.h"

#include <cstdint>
#include <string>
#include <vector>

// Description of the player's machine, filled once at start-up by Gather(). Strings are in the
// system code page; fields of steps that did not run keep their defaults.
class CKrSystemInfo
{
public:
    CKrSystemInfo() = default;
    virtual ~CKrSystemInfo() = default;

    // Identity, CPU (with a ~350 ms speed measurement), keyboard locale, memory and disk, OS
    // naming, audio, mouse, graphics, in that order, stopping at the first step that fails. Only OS
    // naming and graphics can fail. True when every step succeeded.
    bool Gather();

    std::string computerName;
    std::string userName;
    std::string systemLanguage;
    std::string osFullName;
    std::string osName;
    std::string osEdition;
    std::string servicePack;
    uint32_t osBits = 0;
    uint32_t osBuild = 0;
    uint32_t totalRamMb = 0;
    uint32_t freeRamMb = 0;
    uint32_t diskTotalMb = 0;
    uint32_t diskFreeMb = 0;
    std::string cpuName;
    uint32_t cpuCount = 0;
    uint32_t cpuType = 0;
    uint32_t cpuLevel = 0;
    uint32_t cpuRevision = 0;
    uint32_t cpuMhz = 0;
    uint32_t hasAudio = 0;
    uint32_t audioProductId = 0;
    uint32_t audioManufacturerId = 0;
    std::string audioDeviceName;
    std::string audioManufacturer;
    uint32_t audioPitch = 0;
    uint32_t audioPitch2 = 0;
    uint32_t audioLrVolume = 0;
    uint32_t hasMouse = 0;
    uint32_t mouseButtonsSwapped = 0;
    uint32_t mouseAcceleration = 0;
    uint32_t d3dAvailable = 0;
    uint32_t screenHeight = 0;
    uint32_t screenWidth = 0;
    uint32_t refreshRate = 0;
    uint32_t gpuDeviceId = 0;
    uint32_t gpuVendorId = 0;
    std::string gpuDescription;
    std::string gpuVendor;
    float vertexShaderVersion = 0.0f;
    float pixelShaderVersion = 0.0f;
    // The raw Direct3D 9 records (D3DCAPS9, D3DADAPTER_IDENTIFIER9); empty when not gathered.
    std::vector<uint8_t> deviceCaps;
    std::vector<uint8_t> adapterIdentifier;
    int32_t oemCodePage = 0;
    int32_t ansiCodePage = 0;
    std::string keyboardCountry;

    // The steps of Gather applied to facts already gathered; Gather asks the platform for them.
    void ApplyIdentity(const kr::os::IdentityFacts& facts);
    void ApplyCpu(const kr::os::CpuFacts& facts, uint32_t measuredMhz);
    void ApplyKeyboardLocale(const kr::os::KeyboardLocaleFacts& facts);
    void ApplyMemoryAndDisk(const kr::os::MemoryDiskFacts& facts);
    // False when the version cannot be named; the OS fields are then left as they were.
    bool ApplyOsVersion(const kr::os::OsVersionFacts& facts);
    void ApplyAudio(const kr::os::AudioFacts& facts);
    void ApplyMouse(const kr::os::MouseFacts& facts);
    // `queried` is the result of the Direct3D queries; without it only the desktop size is taken.
    bool ApplyGraphics(bool queried, const kr::os::GraphicsFacts& facts);
};
