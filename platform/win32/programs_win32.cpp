#include "platform/programs.h"

#include <windows.h>

#include <shellapi.h>

namespace kr::os
{

bool CanLoadLibrary(const std::string& name)
{
    HMODULE library = LoadLibraryA(name.c_str());
    if (!library)
        return false;
    FreeLibrary(library);
    return true;
}

bool StartProgram(const std::string& file, const std::string& parameters, const std::string& directory)
{
    HINSTANCE result = ShellExecuteA(nullptr, "open", file.c_str(), parameters.c_str(),
                                     directory.empty() ? nullptr : directory.c_str(), SW_MINIMIZE);
    // ShellExecute reports success with a value above 32.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

} // namespace kr::os
