#include "platform/process.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>

namespace kr::os {

std::string ExecutablePath()
{
    char buffer[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, n);
}

std::vector<std::string> RunningProcessNames()
{
    std::vector<std::string> names;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return names;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    // The first entry is the idle process and is never examined.
    if (Process32First(snapshot, &entry))
    {
        while (Process32Next(snapshot, &entry))
        {
            char line[1024];
            std::snprintf(line, sizeof line, "%s\n", entry.szExeFile);
            OutputDebugStringA(line);
            names.emplace_back(entry.szExeFile);
        }
    }
    CloseHandle(snapshot);
    return names;
}

} // namespace kr::os
