#include "platform/process.h"

#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <fstream>

namespace kr::os {

std::string ExecutablePath()
{
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::vector<std::string> RunningProcessNames()
{
    std::vector<std::string> names;
    DIR* dir = opendir("/proc");
    if (!dir)
        return names;
    while (dirent* entry = readdir(dir))
    {
        if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0])))
            continue;
        std::string base = std::string("/proc/") + entry->d_name;
        char buffer[PATH_MAX];
        ssize_t n = readlink((base + "/exe").c_str(), buffer, sizeof buffer - 1);
        std::string name;
        if (n > 0)
        {
            name.assign(buffer, static_cast<size_t>(n));
            name = name.substr(name.rfind('/') + 1);
        }
        else
        {
            // Processes of other users hide their exe link; comm is the (truncated) name.
            std::ifstream comm(base + "/comm");
            std::getline(comm, name);
        }
        if (!name.empty())
            names.push_back(name);
    }
    closedir(dir);
    return names;
}

} // namespace kr::os
