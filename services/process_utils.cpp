#include "services/process_utils.h"

#include "platform/process.h"

#include <cctype>

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
    {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

void GetExecutableName(std::string& name)
{
    name = kr::os::ExecutablePath();
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
}

std::string GetExecutableName()
{
    std::string name;
    GetExecutableName(name);
    return name;
}

int CountProcessesByName(const std::string& name)
{
    int count = 0;
    for (const std::string& candidate : kr::os::RunningProcessNames())
    {
        if (EqualsNoCase(candidate, name))
            ++count;
    }
    return count;
}
