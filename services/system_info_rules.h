#pragma once
// The portable rules of the machine description: names, tables and roundings applied to the raw
// facts that platform/sysinfo.h gathers.
#include "platform/sysinfo.h"

#include <cstdint>
#include <string>

// "Intel 386", "Intel 486", "Intel Pentium", "MIPS", "Alpha" or "Unknown".
std::string CpuNameForType(uint32_t cpuType);

// Snaps a measured clock rate to the figures CPUs are sold with (x00, x33, x50, x66).
uint32_t RoundCpuMhz(uint32_t measuredMhz);

// Bytes to megabytes rounded up to a multiple of 16; saturates instead of wrapping.
uint32_t BytesToRoundedMb(uint64_t bytes);

// Edition name for a GetProductInfo product type; empty for a type without an entry.
std::string ProductEditionName(uint32_t productType);

struct KrOsNames
{
    std::string osFullName;
    std::string osName;
    std::string osEdition;
    std::string servicePack;
    uint32_t osBits = 32;
    uint32_t osBuild = 0;
};

// Names a Windows version. False (and `names` untouched) on a non-NT platform or NT 4 and older.
bool NameWindowsVersion(const kr::os::OsVersionFacts& facts, KrOsNames& names);

// Names any other system from its kernel name and architecture. False when there is no name.
bool NameOtherSystem(const kr::os::OsVersionFacts& facts, KrOsNames& names);

// Company name of a multimedia manufacturer identifier (1..175), else "Unknown".
std::string AudioManufacturerName(uint32_t manufacturerId);

// Vendor name of a PCI graphics vendor identifier, else "Unknown".
std::string GpuVendorName(uint32_t vendorId);

// A Direct3D shader version (minor in the first byte, major in the second) as major.minor.
float ShaderVersionNumber(uint32_t version);

// Removes blanks, tabs, carriage returns and newlines at both ends.
std::string TrimDescription(const std::string& text);
