#include "services/system_info.h"

#include "services/system_info_rules.h"

bool CKrSystemInfo::Gather()
{
    ApplyIdentity(kr::os::QueryIdentity());
    ApplyCpu(kr::os::QueryCpu(), kr::os::MeasureCpuMhz());
    ApplyKeyboardLocale(kr::os::QueryKeyboardLocale());
    ApplyMemoryAndDisk(kr::os::QueryMemoryAndDisk());
    kr::os::OsVersionFacts version;
    if (!kr::os::QueryOsVersion(version) || !ApplyOsVersion(version))
        return false;
    ApplyAudio(kr::os::QueryAudio());
    ApplyMouse(kr::os::QueryMouse());
    kr::os::GraphicsFacts graphics;
    const bool queried = kr::os::QueryGraphics(graphics);
    return ApplyGraphics(queried, graphics);
}

void CKrSystemInfo::ApplyIdentity(const kr::os::IdentityFacts& facts)
{
    computerName = facts.computerName;
    userName = facts.userName;
    systemLanguage = facts.systemLanguage;
}

void CKrSystemInfo::ApplyCpu(const kr::os::CpuFacts& facts, uint32_t measuredMhz)
{
    cpuCount = facts.count;
    cpuType = facts.type;
    cpuLevel = facts.level;
    cpuRevision = facts.revision;
    cpuName = CpuNameForType(cpuType);
    cpuMhz = RoundCpuMhz(measuredMhz);
}

void CKrSystemInfo::ApplyKeyboardLocale(const kr::os::KeyboardLocaleFacts& facts)
{
    oemCodePage = facts.oemCodePage;
    ansiCodePage = facts.ansiCodePage;
    keyboardCountry = facts.country;
}

void CKrSystemInfo::ApplyMemoryAndDisk(const kr::os::MemoryDiskFacts& facts)
{
    totalRamMb = BytesToRoundedMb(facts.totalPhysical);
    freeRamMb = BytesToRoundedMb(facts.availablePhysical);
    diskTotalMb = BytesToRoundedMb(facts.diskTotal);
    diskFreeMb = BytesToRoundedMb(facts.diskFree);
}

bool CKrSystemInfo::ApplyOsVersion(const kr::os::OsVersionFacts& facts)
{
    KrOsNames names;
    const bool named = facts.otherSystemName.empty() ? NameWindowsVersion(facts, names)
                                                     : NameOtherSystem(facts, names);
    if (!named)
        return false;
    osFullName = names.osFullName;
    osName = names.osName;
    osEdition = names.osEdition;
    servicePack = names.servicePack;
    osBits = names.osBits;
    osBuild = names.osBuild;
    return true;
}

void CKrSystemInfo::ApplyAudio(const kr::os::AudioFacts& facts)
{
    hasAudio = 0;
    audioPitch = audioPitch2 = audioLrVolume = 0;
    audioDeviceName.clear();
    audioManufacturer.clear();
    if (!facts.present)
        return;
    constexpr uint32_t kPitch = 0x1;    // WAVECAPS_PITCH
    constexpr uint32_t kLrVolume = 0x8; // WAVECAPS_LRVOLUME
    hasAudio = 1;
    audioProductId = facts.productId;
    audioManufacturerId = facts.manufacturerId;
    audioDeviceName = facts.deviceName;
    audioManufacturer = AudioManufacturerName(audioManufacturerId);
    audioPitch = (facts.support & kPitch) != 0 ? 1 : 0;
    audioPitch2 = audioPitch;
    audioLrVolume = (facts.support & kLrVolume) != 0 ? 1 : 0;
}

void CKrSystemInfo::ApplyMouse(const kr::os::MouseFacts& facts)
{
    hasMouse = mouseButtonsSwapped = mouseAcceleration = 0;
    if (!facts.present)
        return;
    hasMouse = 1;
    mouseButtonsSwapped = facts.buttonsSwapped ? 1 : 0;
    mouseAcceleration = facts.acceleration;
}

bool CKrSystemInfo::ApplyGraphics(bool queried, const kr::os::GraphicsFacts& facts)
{
    d3dAvailable = 0;
    screenWidth = facts.desktopWidth;
    screenHeight = facts.desktopHeight;
    refreshRate = 60;
    if (!queried)
        return false;
    gpuDeviceId = facts.deviceId;
    gpuVendorId = facts.vendorId;
    gpuDescription = TrimDescription(facts.description);
    gpuVendor = GpuVendorName(gpuVendorId);
    screenWidth = facts.modeWidth;
    screenHeight = facts.modeHeight;
    refreshRate = facts.modeRefreshRate;
    vertexShaderVersion = ShaderVersionNumber(facts.vertexShaderVersion);
    pixelShaderVersion = ShaderVersionNumber(facts.pixelShaderVersion);
    deviceCaps = facts.deviceCaps;
    adapterIdentifier = facts.adapterIdentifier;
    d3dAvailable = 1;
    return true;
}
