#pragma once
// Path, directory and time-stamp helpers of the engine and the launcher. Times are FILETIME values
// (100 ns since 1601-01-01, one 64-bit integer).
#include <cstdint>
#include <string>
#include <vector>

struct DirEntry
{
    std::string name;
    uint32_t size = 0;   // low 32 bits of the file size, as the engine compares it
    uint64_t size64 = 0; // the whole size
    uint64_t lastWrite = 0;
    uint32_t attributes = 0;
    // 1 only for directories whose name does not begin with "."; "." and ".." count as files.
    uint32_t isDirectory = 0;
};

bool FileExists(const std::string& path);
bool SetFileLastWriteTime(const std::string& path, uint64_t lastWrite);
// Creation and last-write time from a DOS date (high 16 bits) and time (low 16 bits); the access
// time is kept. With isLocal the DOS time is taken as local time, else as UTC.
bool SetFileTimeFromDos(const std::string& path, uint32_t dosDateTime, bool isLocal);

// Last path component cut at its first ".": "C:\\Game\\Data_2.zip" -> "Data_2".
std::string GetFileTitle(const std::string& path);
// Text before the last "/" or "\\"; the whole path when there is none.
std::string GetDirectoryPart(const std::string& path);
// Every run of "/" and "\\" becomes one "\\".
std::string NormalizePath(const std::string& path);

// Appends every entry of `path` ("." and ".." included); a directory that cannot be listed adds
// nothing. Always 1.
int EnumerateDirectory(const std::string& path, std::vector<DirEntry>& entries);
// Bytes of all files below `path` (directories whose name begins with "." are not entered).
uint64_t GetDirectorySize(const std::string& path);
// The same, and bytes >> 20 into *mb when mb is given.
uint64_t GetDirectorySizeMB(const std::string& path, uint64_t* mb);

// DOS date/time <-> FILETIME, plain arithmetic without time zones. DOS time has 2-second steps
// and covers 1980-01-01 to 2107-12-31; outside that range, or with invalid fields, false.
bool FileTimeToDos(uint64_t fileTime, uint16_t* dosDate, uint16_t* dosTime);
bool DosToFileTime(uint16_t dosDate, uint16_t dosTime, uint64_t* fileTime);
// Packed form: date in the high 16 bits, time in the low 16 bits (minizip's dosDate).
bool FileTimeToDosDateTime32(uint64_t fileTime, uint32_t* dosDateTime);

// -1, 0 or 1. Two times are equal when they fall into the same 2-second DOS step. A time that
// DOS cannot hold (for example 0, "unknown") is compared by its exact value instead.
int CompareFileTimes(uint64_t a, uint64_t b);
int CompareDosTimes(uint64_t a, uint64_t b);

// Seconds since 1970-01-01 UTC (plus 100 ns units) <-> FILETIME.
uint64_t UnixTimeToFileTime(int64_t seconds, uint32_t hundredNs = 0);
int64_t FileTimeToUnixTime(uint64_t fileTime);
