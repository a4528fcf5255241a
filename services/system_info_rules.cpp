#include "services/system_info_rules.h"

#include <cstddef>
#include <limits>

using kr::os::OsVersionFacts;

std::string CpuNameForType(uint32_t cpuType)
{
    switch (cpuType)
    {
    case 386:
        return "Intel 386";
    case 486:
        return "Intel 486";
    case 586:
        return "Intel Pentium";
    case 4000:
        return "MIPS";
    case 21064:
        return "Alpha";
    default:
        return "Unknown";
    }
}

namespace {

uint64_t SnapMhz(uint64_t mhz)
{
    if (mhz > 1000)
        mhz = (mhz + 50) / 100 * 100;
    const uint64_t hundreds = mhz - mhz % 100;
    const uint64_t r = mhz % 100;
    if (mhz >= 200)
    {
        if (r > 84)
            return hundreds + 100;
        if (r > 58)
            return hundreds + 66;
        if (r > 42)
            return hundreds + 50;
        if (r > 16)
            return hundreds + 33;
        if (r < 16)
            return hundreds;
        return mhz;
    }
    if (r > 95)
        return hundreds + 100;
    if (r >= 62 && r <= 70)
        return hundreds + 66;
    if (r >= 46 && r <= 54)
        return hundreds + 50;
    if (r >= 29 && r <= 37)
        return hundreds + 33;
    return mhz;
}

} // namespace

uint32_t RoundCpuMhz(uint32_t measuredMhz)
{
    // Worked in 64 bits so that an absurd measurement cannot wrap round to a small figure.
    const uint64_t mhz = SnapMhz(measuredMhz);
    return mhz > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                      : static_cast<uint32_t>(mhz);
}

uint32_t BytesToRoundedMb(uint64_t bytes)
{
    // Rounded up to 16 MB: (b + 16 MB - 1) / 1 MB with the low 4 bits cleared, without letting the
    // addition wrap for byte counts near the top of the range.
    constexpr uint64_t kSixteenMb = 0x1000000;
    uint64_t units = bytes / kSixteenMb + (bytes % kSixteenMb != 0 ? 1 : 0);
    uint64_t mb = units * 16;
    constexpr uint64_t kMaxMb = std::numeric_limits<uint32_t>::max() & ~uint64_t{0xF};
    return static_cast<uint32_t>(mb > kMaxMb ? kMaxMb : mb);
}

std::string ProductEditionName(uint32_t productType)
{
    switch (productType)
    {
    case 1:
        return "Ultimate Edition";
    case 2:
        return "Home Basic Edition";
    case 3:
        return "Home Premium Edition";
    case 4:
    case 10:
        return "Enterprise Edition";
    case 6:
        return "Business Edition";
    case 7:
        return "Standard Edition";
    case 8:
        return "Datacenter Edition";
    case 9:
        return "Small Business Server";
    case 11:
        return "Starter Edition";
    case 12:
        return "Datacenter Edition (core installation)";
    case 13:
        return "Standard Edition (core installation)";
    case 14:
        return "Enterprise Edition (core installation)";
    case 15:
        return "Enterprise Edition for Itanium-based Systems";
    case 17:
        return "Web Server Edition";
    case 18:
        return "Cluster Server Edition";
    case 25:
        return "Small Business Server Premium Edition";
    case 48:
        return "Professional";
    default:
        return std::string();
    }
}

namespace {

constexpr uint16_t kSuiteEnterprise = 0x2;
constexpr uint16_t kSuiteDatacenter = 0x80;
constexpr uint16_t kSuitePersonal = 0x200;
constexpr uint16_t kSuiteBlade = 0x400;
constexpr uint16_t kSuiteStorageServer = 0x2000;
constexpr uint16_t kSuiteComputeServer = 0x4000;
constexpr uint16_t kSuiteHomeServer = 0x8000;

bool Has(uint16_t mask, uint16_t bit)
{
    return (mask & bit) != 0;
}

void NameVersion6(const OsVersionFacts& f, bool workstation, KrOsNames& n)
{
    switch (f.minor)
    {
    case 0:
        n.osName = workstation ? "Windows Vista" : "Windows Server 2008";
        break;
    case 1:
        n.osName = workstation ? "Windows 7" : "Windows Server 2008 R2";
        break;
    case 2:
        n.osName = workstation ? "Windows 8" : "Windows 8 Server";
        break;
    default:
        break;
    }
    if (f.hasProductInfo)
        n.osEdition = ProductEditionName(f.productInfoType);
}

void NameVersion52(const OsVersionFacts& f, bool workstation, KrOsNames& n)
{
    if (f.serverR2 != 0)
        n.osName = "Windows Server 2003 R2";
    else if (Has(f.suiteMask, kSuiteStorageServer))
        n.osName = "Windows Storage Server 2003";
    else if (Has(f.suiteMask, kSuiteHomeServer))
        n.osName = "Windows Home Server";
    else if (workstation && f.architecture == kr::os::kArchX64)
    {
        n.osName = "Windows XP";
        n.osEdition = "Professional";
        n.osBits = 64;
    }
    else
        n.osName = "Windows Server 2003, ";

    if (workstation)
        return;
    const uint16_t suite = f.suiteMask;
    if (f.architecture == kr::os::kArchItanium)
    {
        if (Has(suite, kSuiteDatacenter))
            n.osEdition = "Datacenter Edition for Itanium-based Systems";
        else if (Has(suite, kSuiteEnterprise))
            n.osEdition = "Enterprise Edition for Itanium-based Systems";
    }
    else if (f.architecture == kr::os::kArchX64)
    {
        if (Has(suite, kSuiteDatacenter))
            n.osEdition = "Datacenter x64 Edition";
        else if (Has(suite, kSuiteEnterprise))
            n.osEdition = "Enterprise x64 Edition";
        else
            n.osEdition = "Standard x64 Edition";
    }
    else
    {
        if (Has(suite, kSuiteComputeServer))
            n.osEdition = "Compute Cluster Edition";
        else if (Has(suite, kSuiteDatacenter))
            n.osEdition = "Datacenter Edition";
        else if (Has(suite, kSuiteEnterprise))
            n.osEdition = "Enterprise Edition";
        else if (Has(suite, kSuiteBlade))
            n.osEdition = "Web Edition";
        else
            n.osEdition = "Standard Edition";
    }
}

} // namespace

bool NameWindowsVersion(const OsVersionFacts& f, KrOsNames& names)
{
    if (f.platformId != kr::os::kPlatformNt || f.major <= 4)
        return false;
    KrOsNames n;
    n.osBits = 32;
    const bool workstation = f.productType == kr::os::kProductWorkstation;
    if (f.major == 6)
        NameVersion6(f, workstation, n);
    else if (f.major == 5 && f.minor == 2)
        NameVersion52(f, workstation, n);
    else if (f.major == 5 && f.minor == 1)
    {
        n.osName = "Windows XP";
        n.osEdition = Has(f.suiteMask, kSuitePersonal) ? "Home Edition" : "Professional";
    }
    else if (f.major == 5 && f.minor == 0)
    {
        n.osName = "Windows 2000";
        if (workstation)
            n.osEdition = "Professional";
        else if (Has(f.suiteMask, kSuiteDatacenter))
            n.osEdition = "Datacenter Server";
        else if (Has(f.suiteMask, kSuiteEnterprise))
            n.osEdition = "Advanced Server";
        else
            n.osEdition = "Server";
    }

    n.servicePack = f.csdVersion;
    n.osBuild = f.build;
    n.osFullName = n.osName + " " + n.osEdition;
    if (f.major >= 6)
    {
        if (f.architecture == kr::os::kArchX64)
        {
            n.osFullName += ", 64-bit";
            n.osBits = 64;
        }
        else if (f.architecture == kr::os::kArchX86)
        {
            n.osFullName += ", 32-bit";
            n.osBits = 32;
        }
    }
    names = n;
    return true;
}

bool NameOtherSystem(const OsVersionFacts& f, KrOsNames& names)
{
    if (f.otherSystemName.empty())
        return false;
    KrOsNames n;
    n.osName = f.otherSystemName;
    n.osFullName = n.osName;
    n.osBuild = f.build;
    if (f.architecture == kr::os::kArchX64 || f.architecture == kr::os::kArchArm64)
    {
        n.osFullName += ", 64-bit";
        n.osBits = 64;
    }
    else if (f.architecture == kr::os::kArchX86)
        n.osFullName += ", 32-bit";
    names = n;
    return true;
}

namespace {

struct Manufacturer
{
    uint16_t id;
    const char* name;
};

// Company names of the multimedia manufacturer identifiers; 122 to 124 were never assigned.
constexpr Manufacturer kManufacturers[] = {
    {1, "Microsoft Corporation"},
    {2, "Creative Labs, Inc"},
    {3, "Media Vision, Inc."},
    {4, "Fujitsu Corp."},
    {5, "PRAGMATRAX Software"},
    {6, "Cyrix Corporation"},
    {7, "Philips Speech Processing"},
    {8, "NetXL, Inc."},
    {9, "ZyXEL Communications, Inc."},
    {10, "BeCubed Software Inc."},
    {11, "Aardvark Computer Systems, Inc."},
    {12, "Bin Tec Communications GmbH"},
    {13, "Hewlett-Packard Company"},
    {14, "Aculab plc"},
    {15, "Faith,Inc."},
    {16, "Mitel Corporation"},
    {17, "Quantum3D, Inc."},
    {18, "Siemens-Nixdorf"},
    {19, "E-mu Systems, Inc."},
    {20, "Artisoft, Inc."},
    {21, "Turtle Beach, Inc."},
    {22, "IBM Corporation"},
    {23, "Vocaltec Ltd."},
    {24, "Roland"},
    {25, "DSP Solutions, Inc."},
    {26, "NEC"},
    {27, "ATI Technologies Inc."},
    {28, "Wang Laboratories, Inc."},
    {29, "Tandy Corporation"},
    {30, "Voyetra"},
    {31, "Antex Electronics Corporation"},
    {32, "ICL Personal Systems"},
    {33, "Intel Corporation"},
    {34, "Advanced Gravis"},
    {35, "Video Associates Labs, Inc."},
    {36, "InterActive Inc."},
    {37, "Yamaha Corporation of America"},
    {38, "Everex Systems, Inc."},
    {39, "Echo Speech Corporation"},
    {40, "Sierra Semiconductor Corp"},
    {41, "Computer Aided Technologies"},
    {42, "APPS Software International"},
    {43, "DSP Group, Inc."},
    {44, "microEngineering Labs"},
    {45, "Computer Friends, Inc."},
    {46, "ESS Technology"},
    {47, "Audio, Inc."},
    {48, "Motorola, Inc."},
    {49, "Canopus, co., Ltd."},
    {50, "Seiko Epson Corporation"},
    {51, "Truevision"},
    {52, "Aztech Labs, Inc."},
    {53, "Videologic"},
    {54, "SCALACS"},
    {55, "Korg Inc."},
    {56, "Audio Processing Technology"},
    {57, "Integrated Circuit Systems, Inc."},
    {58, "Iterated Systems, Inc."},
    {59, "Metheus"},
    {60, "Logitech, Inc."},
    {61, "Winnov, Inc."},
    {62, "NCR Corporation"},
    {63, "EXAN"},
    {64, "AST Research Inc."},
    {65, "Willow Pond Corporation"},
    {66, "Sonic Foundry"},
    {67, "Vitec Multimedia"},
    {68, "MOSCOM Corporation"},
    {69, "Silicon Soft, Inc."},
    {70, "TerraTec Electronic GmbH"},
    {71, "MediaSonic Ltd."},
    {72, "SANYO Electric Co., Ltd."},
    {73, "Supermac"},
    {74, "Audio Processing Technology"},
    {75, "NOGATECH Ltd."},
    {76, "Speech Compression"},
    {77, "Ahead, Inc."},
    {78, "Dolby Laboratories"},
    {79, "OKI"},
    {80, "AuraVision Corporation"},
    {81, "Ing C. Olivetti & C., S.p.A."},
    {82, "I/O Magic Corporation"},
    {83, "Matsushita Electric Industrial Co., Ltd."},
    {84, "Control Resources Limited"},
    {85, "Xebec Multimedia Solutions Limited"},
    {86, "New Media Corporation"},
    {87, "Natural MicroSystems"},
    {88, "Lyrrus Inc."},
    {89, "Compusic"},
    {90, "OPTi Computers Inc."},
    {91, "Adlib Accessories Inc."},
    {92, "Compaq Computer Corp."},
    {93, "Dialogic Corporation"},
    {94, "InSoft, Inc."},
    {95, "M.P. Technologies, Inc."},
    {96, "Weitek"},
    {97, "Lernout & Hauspie"},
    {98, "Quanta Computer Inc."},
    {99, "Apple Computer, Inc."},
    {100, "Digital Equipment Corporation"},
    {101, "Mark of the Unicorn"},
    {102, "Workbit Corporation"},
    {103, "Ositech Communications Inc."},
    {104, "miro Computer Products AG"},
    {105, "Cirrus Logic"},
    {106, "ISOLUTION  B.V."},
    {107, "Horizons Technology, Inc."},
    {108, "Computer Concepts Ltd."},
    {109, "Voice Technologies Group, Inc."},
    {110, "Radius"},
    {111, "Rockwell International"},
    {112, "Co. XYZ for testing"},
    {113, "Opcode Systems"},
    {114, "Voxware Inc."},
    {115, "Northern Telecom Limited"},
    {116, "APICOM"},
    {117, "Grande Software"},
    {118, "ADDX"},
    {119, "Wildcat Canyon Software"},
    {120, "Rhetorex Inc."},
    {121, "Brooktree Corporation"},
    {125, "ENSONIQ Corporation"},
    {126, "FAST Multimedia AG"},
    {127, "NVidia Corporation"},
    {128, "OKSORI Co., Ltd."},
    {129, "DiAcoustics, Inc."},
    {130, "Gulbransen, Inc."},
    {131, "Kay Elemetrics, Inc."},
    {132, "Crystal Semiconductor Corporation"},
    {133, "Splash Studios"},
    {134, "Quarterdeck Corporation"},
    {135, "TDK Corporation"},
    {136, "Digital Audio Labs, Inc."},
    {137, "Seer Systems, Inc."},
    {138, "PictureTel Corporation"},
    {139, "AT&T Microelectronics"},
    {140, "Osprey Technologies, Inc."},
    {141, "Mediatrix Peripherals"},
    {142, "SounDesignS M.C.S. Ltd."},
    {143, "A.L. Digital Ltd."},
    {144, "Spectrum Signal Processing, Inc."},
    {145, "Electronic Courseware Systems, Inc."},
    {146, "AMD"},
    {147, "Core Dynamics"},
    {148, "CANAM Computers"},
    {149, "Softsound, Ltd."},
    {150, "Norris Communications, Inc."},
    {151, "Danka Data Devices"},
    {152, "EuPhonics"},
    {153, "Precept Software, Inc."},
    {154, "Crystal Net Corporation"},
    {155, "Chromatic Research, Inc."},
    {156, "Voice Information Systems, Inc."},
    {157, "Vienna Systems"},
    {158, "Connectix Corporation"},
    {159, "Gadget Labs LLC"},
    {160, "Frontier Design Group LLC"},
    {161, "Viona Development GmbH"},
    {162, "Casio Computer Co., LTD"},
    {163, "Diamond Multimedia"},
    {164, "S3"},
    {165, "D-Vision Systems, Inc."},
    {166, "Netscape Communications"},
    {167, "Soundspace Audio"},
    {168, "VanKoevering Company"},
    {169, "Q-Team"},
    {170, "Zefiro Acoustics"},
    {171, "Studer Professional Audio AG"},
    {172, "Fraunhofer IIS"},
    {173, "Quicknet Technologies"},
    {174, "Alaris, Inc."},
    {175, "SIC Resource Inc."},
};

struct Vendor
{
    uint16_t id;
    const char* name;
};

constexpr Vendor kGpuVendors[] = {
    {0x0E11, "Compaq"},
    {0x1002, "ATI"},
    {0x100C, "Tseng Labs"},
    {0x100E, "Weitek"},
    {0x1013, "Cirrus"},
    {0x1023, "Trident"},
    {0x102B, "Matrox"},
    {0x1033, "VideoLogic"},
    {0x1039, "SiS"},
    {0x1048, "3D Labs"},
    {0x104C, "3D Labs"},
    {0x10BA, "3D Labs"},
    {0x3D3D, "3D Labs"},
    {0x104A, "ST Microelectronics"},
    {0x105D, "Number Nine"},
    {0x10B4, "nVidia"},
    {0x10DE, "nVidia"},
    {0x12D2, "nVidia"},
    {0x10C8, "NeoMagic"},
    {0x10D9, "3dfx"},
    {0x121A, "3dfx"},
    {0x1142, "3dfx"},
    {0x1106, "VIA"},
    {0x110B, "Chromatic"},
    {0x1163, "Rendition"},
    {0x126F, "Silicon Motion"},
    {0x14AF, "Guillemot"},
    {0x18CA, "XGI"},
    {0x5333, "S3"},
    {0x8086, "Intel"},
};

} // namespace

std::string AudioManufacturerName(uint32_t manufacturerId)
{
    for (const Manufacturer& m : kManufacturers)
        if (m.id == manufacturerId)
            return m.name;
    return "Unknown";
}

std::string GpuVendorName(uint32_t vendorId)
{
    for (const Vendor& v : kGpuVendors)
        if (v.id == vendorId)
            return v.name;
    return "Unknown";
}

float ShaderVersionNumber(uint32_t version)
{
    static constexpr float kMinorParts[] = {0.0f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
    const uint32_t major = (version >> 8) & 0xFF;
    const uint32_t minor = version & 0xFF;
    return static_cast<float>(major) + kMinorParts[minor < 5 ? minor : 5];
}

std::string TrimDescription(const std::string& text)
{
    static const char kBlanks[] = " \t\r\n";
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return std::string();
    std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}
