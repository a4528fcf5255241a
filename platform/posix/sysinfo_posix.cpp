#include "platform/sysinfo.h"

#include <pwd.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace kr::os {

namespace {

// The Windows side fills 16-byte buffers; longer names are left out the same way here.
constexpr std::size_t kNameBufferSize = 16;

std::string FittingName(const std::string& name)
{
    return name.size() < kNameBufferSize ? name : std::string();
}

// Value of the first "key : value" line of a /proc text file whose key matches; empty when absent.
std::string ProcValue(const char* file, const std::string& key)
{
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
    {
        std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, colon);
        name.erase(name.find_last_not_of(" \t") + 1);
        if (name != key)
            continue;
        std::size_t valueStart = line.find_first_not_of(" \t", colon + 1);
        return valueStart == std::string::npos ? std::string() : line.substr(valueStart);
    }
    return std::string();
}

uint64_t ParseUnsigned(const std::string& text)
{
    return std::strtoull(text.c_str(), nullptr, 10);
}

bool IsX86Machine(const std::string& machine)
{
    return machine == "x86_64" || (machine.size() == 4 && machine[0] == 'i' && machine.compare(2, 2, "86") == 0);
}

std::string MachineName()
{
    utsname names{};
    return uname(&names) == 0 ? std::string(names.machine) : std::string();
}

} // namespace

IdentityFacts QueryIdentity()
{
    IdentityFacts facts;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0)
        facts.computerName = FittingName(host);

    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
        facts.userName = FittingName(found->pw_name);
    return facts;
}

CpuFacts QueryCpu()
{
    CpuFacts facts;
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    facts.count = online > 0 ? static_cast<uint32_t>(online) : 1;
    if (IsX86Machine(MachineName()))
    {
        // What Windows reports for any x86 since the Pentium: type 586, family as level,
        // model and stepping as revision.
        facts.type = 586;
        facts.level = static_cast<uint32_t>(ParseUnsigned(ProcValue("/proc/cpuinfo", "cpu family")));
        uint64_t model = ParseUnsigned(ProcValue("/proc/cpuinfo", "model"));
        uint64_t stepping = ParseUnsigned(ProcValue("/proc/cpuinfo", "stepping"));
        facts.revision = static_cast<uint32_t>(((model & 0xFF) << 8) | (stepping & 0xFF));
    }
    return facts;
}

uint32_t MeasureCpuMhz()
{
    // The kernel has already measured it; a busy wait would only repeat that.
    std::string mhz = ProcValue("/proc/cpuinfo", "cpu MHz");
    double value = mhz.empty() ? 0.0 : std::strtod(mhz.c_str(), nullptr);
    return value > 0.0 && value < 4.0e9 ? static_cast<uint32_t>(value) : 0;
}

KeyboardLocaleFacts QueryKeyboardLocale()
{
    return KeyboardLocaleFacts();
}

MemoryDiskFacts QueryMemoryAndDisk()
{
    MemoryDiskFacts facts;
    // /proc/meminfo counts in kB.
    facts.totalPhysical = ParseUnsigned(ProcValue("/proc/meminfo", "MemTotal")) * 1024;
    facts.availablePhysical = ParseUnsigned(ProcValue("/proc/meminfo", "MemAvailable")) * 1024;
    struct statvfs disk{};
    if (statvfs(".", &disk) == 0)
    {
        facts.diskTotal = static_cast<uint64_t>(disk.f_blocks) * disk.f_frsize;
        facts.diskFree = static_cast<uint64_t>(disk.f_bfree) * disk.f_frsize;
    }
    return facts;
}

bool QueryOsVersion(OsVersionFacts& facts)
{
    utsname names{};
    if (uname(&names) != 0)
        return false;
    facts = OsVersionFacts();
    facts.otherSystemName = std::string(names.sysname) + " " + names.release;
    std::string machine = names.machine;
    if (machine == "x86_64")
        facts.architecture = kArchX64;
    else if (machine == "aarch64")
        facts.architecture = kArchArm64;
    else if (IsX86Machine(machine))
        facts.architecture = kArchX86;
    return true;
}

AudioFacts QueryAudio()
{
    return AudioFacts();
}

MouseFacts QueryMouse()
{
    return MouseFacts();
}

bool QueryGraphics(GraphicsFacts& facts)
{
    // No Direct3D here: the step fails with the display fields at their defaults.
    facts = GraphicsFacts();
    return false;
}

} // namespace kr::os
