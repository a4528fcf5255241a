#pragma once
// Operating-system seam: raw facts about the machine. Naming, rounding and tables are portable
// rules in services/system_info_rules.h; this side only asks the system.
#include <cstdint>
#include <string>
#include <vector>

namespace kr::os {

// Names that do not fit the system's 16-byte buffers come back empty.
struct IdentityFacts
{
    std::string computerName;
    std::string userName;
    std::string systemLanguage;
};

struct CpuFacts
{
    uint32_t count = 0;
    uint32_t type = 0;
    uint32_t level = 0;
    uint32_t revision = 0;
};

// Code pages and English country name of the keyboard layout's locale.
struct KeyboardLocaleFacts
{
    int32_t oemCodePage = 0;
    int32_t ansiCodePage = 0;
    std::string country;
};

struct MemoryDiskFacts
{
    uint64_t totalPhysical = 0;
    uint64_t availablePhysical = 0;
    uint64_t diskTotal = 0;
    uint64_t diskFree = 0; // all free bytes, not only those the user may use
};

// Processor architectures as the native system information numbers them.
constexpr uint16_t kArchX86 = 0;
constexpr uint16_t kArchItanium = 6;
constexpr uint16_t kArchX64 = 9;
constexpr uint16_t kArchArm64 = 12;
constexpr uint16_t kArchUnknown = 0xFFFF;

constexpr uint32_t kPlatformNt = 2;
constexpr uint8_t kProductWorkstation = 1;

// The extended version record plus what naming needs beside it.
struct OsVersionFacts
{
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    uint32_t platformId = 0;
    uint8_t productType = 0;
    uint16_t suiteMask = 0;
    uint16_t architecture = kArchUnknown;
    bool hasProductInfo = false;
    uint32_t productInfoType = 0;
    int serverR2 = 0;       // the SM_SERVERR2 metric
    std::string csdVersion; // service-pack text
    // Set only on systems other than Windows: kernel name and release, for example "Linux 6.1.0".
    std::string otherSystemName;
};

struct AudioFacts
{
    bool present = false; // output device 0 exists and answered its capabilities
    uint16_t productId = 0;
    uint16_t manufacturerId = 0;
    std::string deviceName;
    uint32_t support = 0; // dwSupport bits
};

struct MouseFacts
{
    bool present = false;
    bool buttonsSwapped = false;
    uint32_t acceleration = 0;
};

struct GraphicsFacts
{
    // Always filled: the desktop size.
    uint32_t desktopWidth = 0;
    uint32_t desktopHeight = 0;
    // Filled when the Direct3D 9 queries succeeded.
    uint32_t vendorId = 0;
    uint32_t deviceId = 0;
    std::string description; // untrimmed
    uint32_t modeWidth = 0;
    uint32_t modeHeight = 0;
    uint32_t modeRefreshRate = 0;
    uint32_t vertexShaderVersion = 0;
    uint32_t pixelShaderVersion = 0;
    std::vector<uint8_t> deviceCaps;        // the whole D3DCAPS9 record
    std::vector<uint8_t> adapterIdentifier; // the whole D3DADAPTER_IDENTIFIER9 record
};

IdentityFacts QueryIdentity();
CpuFacts QueryCpu();
// Measured clock rate in MHz, truncated, before any rounding; 0 when it cannot be measured.
// On Windows this spins for a quarter of a second at real-time priority.
uint32_t MeasureCpuMhz();
KeyboardLocaleFacts QueryKeyboardLocale();
MemoryDiskFacts QueryMemoryAndDisk();
// False when the version query itself failed.
bool QueryOsVersion(OsVersionFacts& facts);
AudioFacts QueryAudio();
MouseFacts QueryMouse();
// False when Direct3D 9 is missing or one of its queries failed; the desktop size is filled anyway.
bool QueryGraphics(GraphicsFacts& facts);

} // namespace kr::os
