#include "install/path_utils.h"

#include "install/file.h"
#include "platform/files.h"

namespace {

constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr int64_t kEpochDeltaSeconds = 11644473600LL; // 1601-01-01 .. 1970-01-01

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* year, unsigned* month, unsigned* day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp < 10 ? mp + 3 : mp - 9;
    *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2);
}

unsigned DaysInMonth(int64_t year, unsigned month)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

int Compare(uint64_t a, uint64_t b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

// One file's DOS step, or the exact time when DOS cannot hold it.
bool RoundToDos(uint64_t time, uint64_t* rounded)
{
    uint16_t date = 0, clock = 0;
    return FileTimeToDos(time, &date, &clock) && DosToFileTime(date, clock, rounded);
}

} // namespace

bool FileExists(const std::string& path)
{
    CKrFile file;
    if (!file.Open(path, "rb"))
        return false;
    file.Close();
    // fopen opens directories on POSIX; Windows refuses them.
    return !kr::os::IsDirectory(path);
}

bool SetFileLastWriteTime(const std::string& path, uint64_t lastWrite)
{
    return kr::os::SetFileTimes(path, nullptr, nullptr, &lastWrite);
}

bool SetFileTimeFromDos(const std::string& path, uint32_t dosDateTime, bool isLocal)
{
    uint64_t time = 0;
    if (!DosToFileTime(static_cast<uint16_t>(dosDateTime >> 16), static_cast<uint16_t>(dosDateTime & 0xFFFF), &time))
        return false;
    if (isLocal)
        time = kr::os::LocalFileTimeToUtc(time);
    return kr::os::SetFileTimes(path, &time, nullptr, &time);
}

std::string GetFileTitle(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = last.find('.');
    return dot == std::string::npos ? last : last.substr(0, dot);
}

std::string GetDirectoryPart(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(0, slash);
}

std::string NormalizePath(const std::string& path)
{
    std::string out;
    out.reserve(path.size());
    for (char c : path)
    {
        bool separator = c == '/' || c == '\\';
        if (!separator)
            out += c;
        else if (out.empty() || out.back() != '\\')
            out += '\\';
    }
    return out;
}

int EnumerateDirectory(const std::string& path, std::vector<DirEntry>& entries)
{
    std::vector<kr::os::FileInfo> listed;
    kr::os::ListDirectory(path, listed);
    entries.reserve(entries.size() + listed.size());
    for (kr::os::FileInfo& info : listed)
    {
        DirEntry entry;
        entry.name = std::move(info.name);
        entry.size64 = info.size;
        entry.size = static_cast<uint32_t>(info.size);
        entry.lastWrite = info.lastWrite;
        entry.attributes = info.attributes;
        entry.isDirectory = (info.attributes & kr::os::kAttrDirectory) && !entry.name.empty() && entry.name[0] != '.';
        entries.push_back(std::move(entry));
    }
    return 1;
}

uint64_t GetDirectorySize(const std::string& path)
{
    std::vector<DirEntry> entries;
    EnumerateDirectory(path, entries);
    uint64_t total = 0;
    for (const DirEntry& entry : entries)
    {
        if (entry.isDirectory)
            total += GetDirectorySize(NormalizePath(path + "\\" + entry.name));
        else
            total += entry.size64; // the whole size: files over 4 GiB count in full
    }
    return total;
}

uint64_t GetDirectorySizeMB(const std::string& path, uint64_t* mb)
{
    uint64_t bytes = GetDirectorySize(path);
    if (mb)
        *mb = bytes >> 20;
    return bytes;
}

bool FileTimeToDos(uint64_t fileTime, uint16_t* dosDate, uint16_t* dosTime)
{
    int64_t seconds = static_cast<int64_t>(fileTime / kTicksPerSecond) - kEpochDeltaSeconds;
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    int64_t secondOfDay = seconds - days * 86400;
    int64_t year;
    unsigned month, day;
    CivilFromDays(days, &year, &month, &day);
    if (year < 1980 || year > 2107)
        return false;
    unsigned hour = static_cast<unsigned>(secondOfDay / 3600);
    unsigned minute = static_cast<unsigned>(secondOfDay / 60 % 60);
    unsigned second = static_cast<unsigned>(secondOfDay % 60);
    if (dosDate)
        *dosDate = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    if (dosTime)
        *dosTime = static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
    return true;
}

bool DosToFileTime(uint16_t dosDate, uint16_t dosTime, uint64_t* fileTime)
{
    int64_t year = 1980 + (dosDate >> 9);
    unsigned month = (dosDate >> 5) & 15;
    unsigned day = dosDate & 31;
    unsigned hour = dosTime >> 11;
    unsigned minute = (dosTime >> 5) & 63;
    unsigned second = (dosTime & 31) * 2;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59)
        return false;
    int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    if (fileTime)
        *fileTime = static_cast<uint64_t>(seconds + kEpochDeltaSeconds) * kTicksPerSecond;
    return true;
}

bool FileTimeToDosDateTime32(uint64_t fileTime, uint32_t* dosDateTime)
{
    uint16_t date = 0, time = 0;
    if (!FileTimeToDos(fileTime, &date, &time))
        return false;
    if (dosDateTime)
        *dosDateTime = (static_cast<uint32_t>(date) << 16) | time;
    return true;
}

int CompareFileTimes(uint64_t a, uint64_t b)
{
    return Compare(a, b);
}

int CompareDosTimes(uint64_t a, uint64_t b)
{
    uint64_t ra = 0, rb = 0;
    bool okA = RoundToDos(a, &ra);
    bool okB = RoundToDos(b, &rb);
    if (okA && okB)
        return Compare(ra, rb);
    return Compare(a, b);
}

uint64_t UnixTimeToFileTime(int64_t seconds, uint32_t hundredNs)
{
    if (seconds < -kEpochDeltaSeconds)
        return 0;
    return static_cast<uint64_t>(seconds + kEpochDeltaSeconds) * kTicksPerSecond + hundredNs;
}

int64_t FileTimeToUnixTime(uint64_t fileTime)
{
    return static_cast<int64_t>(fileTime / kTicksPerSecond) - kEpochDeltaSeconds;
}
