#include "platform/sysinfo.h"

#include <windows.h>

#include <d3d9.h>
#include <intrin.h>
#include <mmsystem.h>
#include <objbase.h>

#include <cstdlib>
#include <cstring>

namespace kr::os {

namespace {

// Text of a fixed-size system buffer, never reading past its end even without a terminator.
std::string BoundedText(const char* buffer, std::size_t size)
{
    const void* end = std::memchr(buffer, 0, size);
    return std::string(buffer, end ? static_cast<const char*>(end) - buffer : size);
}

// Looks up an export of kernel32 that older systems lack.
template <typename Function> Function Kernel32Export(const char* name)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC proc = kernel ? GetProcAddress(kernel, name) : nullptr;
    // Through the generic function pointer type, which converts to any other without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
using Direct3DCreate9Fn = IDirect3D9*(WINAPI*)(UINT);

std::vector<uint8_t> RecordBytes(const void* record, std::size_t size)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(record);
    return std::vector<uint8_t>(bytes, bytes + size);
}

} // namespace

IdentityFacts QueryIdentity()
{
    IdentityFacts facts;
    // 16-byte buffers: a name that does not fit fails the call and the field stays empty.
    char name[16] = {};
    DWORD size = sizeof name;
    if (GetComputerNameA(name, &size))
        facts.computerName = BoundedText(name, sizeof name);

    char user[16] = {};
    size = sizeof user;
    if (GetUserNameA(user, &size))
        facts.userName = BoundedText(user, sizeof user);

    char language[260] = {};
    if (VerLanguageNameA(GetSystemDefaultLangID(), language, sizeof language) != 0)
        facts.systemLanguage = BoundedText(language, sizeof language);
    return facts;
}

CpuFacts QueryCpu()
{
    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    CpuFacts facts;
    facts.count = info.dwNumberOfProcessors;
    facts.type = info.dwProcessorType;
    facts.level = info.wProcessorLevel;
    facts.revision = info.wProcessorRevision;
    return facts;
}

uint32_t MeasureCpuMhz()
{
    HANDLE process = GetCurrentProcess();
    HANDLE thread = GetCurrentThread();
    const int oldThreadPriority = GetThreadPriority(thread);
    const DWORD oldClass = GetPriorityClass(process);
    SetPriorityClass(process, REALTIME_PRIORITY_CLASS);
    SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
    Sleep(100);

    LARGE_INTEGER frequency = {};
    LARGE_INTEGER counter = {};
    uint64_t ticks = 0;
    const bool haveCounter = QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0 &&
                             QueryPerformanceCounter(&counter);
    if (haveCounter)
    {
        // A quarter of a second of the performance counter, against the time-stamp counter.
        const LONGLONG endMark = counter.QuadPart + frequency.QuadPart / 4;
        const uint64_t t0 = __rdtsc();
        LARGE_INTEGER now = counter;
        while (now.QuadPart < endMark && QueryPerformanceCounter(&now))
        {
        }
        const uint64_t t1 = __rdtsc();
        ticks = t1 > t0 ? t1 - t0 : 0;
    }

    if (oldThreadPriority != THREAD_PRIORITY_ERROR_RETURN)
        SetThreadPriority(thread, oldThreadPriority);
    if (oldClass != 0)
        SetPriorityClass(process, oldClass);

    const uint64_t mhz = ticks / 250000;
    return mhz > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(mhz);
}

KeyboardLocaleFacts QueryKeyboardLocale()
{
    KeyboardLocaleFacts facts;
    const LANGID language = LOWORD(reinterpret_cast<UINT_PTR>(GetKeyboardLayout(0)));
    const LCID locale = MAKELCID(language, SORT_DEFAULT);

    char oem[7] = {};
    if (GetLocaleInfoA(locale, LOCALE_IDEFAULTCODEPAGE, oem, sizeof oem) > 0)
        facts.oemCodePage = std::atoi(BoundedText(oem, sizeof oem).c_str());
    char ansi[7] = {};
    if (GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, ansi, sizeof ansi) > 0)
        facts.ansiCodePage = std::atoi(BoundedText(ansi, sizeof ansi).c_str());
    char country[260] = {};
    if (GetLocaleInfoA(locale, LOCALE_SENGCOUNTRY, country, sizeof country) > 0)
        facts.country = BoundedText(country, sizeof country);
    return facts;
}

MemoryDiskFacts QueryMemoryAndDisk()
{
    MemoryDiskFacts facts;
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    if (GlobalMemoryStatusEx(&memory))
    {
        facts.totalPhysical = memory.ullTotalPhys;
        facts.availablePhysical = memory.ullAvailPhys;
    }
    ULARGE_INTEGER available = {};
    ULARGE_INTEGER total = {};
    ULARGE_INTEGER totalFree = {};
    if (GetDiskFreeSpaceExA(nullptr, &available, &total, &totalFree))
    {
        facts.diskTotal = total.QuadPart;
        facts.diskFree = totalFree.QuadPart;
    }
    return facts;
}

bool QueryOsVersion(OsVersionFacts& facts)
{
    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version)))
        return false;

    facts = OsVersionFacts();
    facts.major = version.dwMajorVersion;
    facts.minor = version.dwMinorVersion;
    facts.build = version.dwBuildNumber;
    facts.platformId = version.dwPlatformId;
    facts.productType = version.wProductType;
    facts.suiteMask = version.wSuiteMask;
    facts.csdVersion = BoundedText(version.szCSDVersion, sizeof version.szCSDVersion);
    facts.serverR2 = GetSystemMetrics(SM_SERVERR2);

    SYSTEM_INFO info = {};
    if (auto native = Kernel32Export<GetNativeSystemInfoFn>("GetNativeSystemInfo"))
        native(&info);
    else
        GetSystemInfo(&info);
    facts.architecture = info.wProcessorArchitecture;

    if (auto productInfo = Kernel32Export<GetProductInfoFn>("GetProductInfo"))
    {
        DWORD type = 0;
        productInfo(version.dwMajorVersion, version.dwMinorVersion, 0, 0, &type);
        facts.hasProductInfo = true;
        facts.productInfoType = type;
    }
    return true;
}

AudioFacts QueryAudio()
{
    AudioFacts facts;
    if (waveOutGetNumDevs() == 0)
        return facts;
    WAVEOUTCAPSA caps = {};
    if (waveOutGetDevCapsA(0, &caps, sizeof caps) != MMSYSERR_NOERROR)
        return facts;
    facts.present = true;
    facts.productId = caps.wPid;
    facts.manufacturerId = caps.wMid;
    facts.deviceName = BoundedText(caps.szPname, sizeof caps.szPname);
    facts.support = caps.dwSupport;
    return facts;
}

MouseFacts QueryMouse()
{
    MouseFacts facts;
    if (GetSystemMetrics(SM_MOUSEPRESENT) == 0)
        return facts;
    facts.present = true;
    facts.buttonsSwapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    int parameters[3] = {};
    if (SystemParametersInfoA(SPI_GETMOUSE, 0, parameters, 0))
        facts.acceleration = static_cast<uint32_t>(parameters[2]);
    return facts;
}

bool QueryGraphics(GraphicsFacts& facts)
{
    facts = GraphicsFacts();
    facts.desktopWidth = static_cast<uint32_t>(GetSystemMetrics(SM_CXSCREEN));
    facts.desktopHeight = static_cast<uint32_t>(GetSystemMetrics(SM_CYSCREEN));

    HMODULE library = LoadLibraryA("d3d9.dll");
    if (!library)
        return false;
    auto create = reinterpret_cast<Direct3DCreate9Fn>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "Direct3DCreate9")));
    if (!create)
    {
        FreeLibrary(library);
        return false;
    }

    // S_FALSE (already initialised on this thread) also needs its uninitialise.
    const HRESULT com = CoInitialize(nullptr);
    bool ok = false;
    if (IDirect3D9* d3d = create(32))
    {
        D3DCAPS9 caps = {};
        D3DADAPTER_IDENTIFIER9 identifier = {};
        D3DDISPLAYMODE mode = {};
        if (SUCCEEDED(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps)) &&
            SUCCEEDED(d3d->GetAdapterIdentifier(0, 0, &identifier)) &&
            SUCCEEDED(d3d->GetAdapterDisplayMode(0, &mode)))
        {
            facts.vendorId = identifier.VendorId;
            facts.deviceId = identifier.DeviceId;
            facts.description = BoundedText(identifier.Description, sizeof identifier.Description);
            facts.modeWidth = mode.Width;
            facts.modeHeight = mode.Height;
            facts.modeRefreshRate = mode.RefreshRate;
            facts.vertexShaderVersion = caps.VertexShaderVersion;
            facts.pixelShaderVersion = caps.PixelShaderVersion;
            facts.deviceCaps = RecordBytes(&caps, sizeof caps);
            facts.adapterIdentifier = RecordBytes(&identifier, sizeof identifier);
            ok = true;
        }
        d3d->Release();
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    FreeLibrary(library);
    return ok;
}

} // namespace kr::os
