#include "platform/programs.h"

#include "platform/files.h"

#include <dlfcn.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace kr::os
{

bool CanLoadLibrary(const std::string& name)
{
    void* library = dlopen(NativePath(name).c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!library)
        return false;
    dlclose(library);
    return true;
}

bool StartProgram(const std::string& file, const std::string& parameters, const std::string& directory)
{
    std::string dir = NativePath(directory);
    std::string path = NativePath(file);
    if (!path.empty() && path[0] != '/' && !dir.empty())
        path = dir + (dir.back() == '/' ? "" : "/") + path;
    // The command line is split at blanks; nothing this system starts needs quoting.
    std::vector<std::string> args{path};
    std::istringstream words(parameters);
    for (std::string word; words >> word;)
        args.push_back(word);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!dir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    pid_t pid = 0;
    int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    // Reap the child in the background so it never lingers as a zombie.
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return true;
}

} // namespace kr::os
