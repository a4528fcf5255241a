#include "install/directx_check.h"

#include "platform/programs.h"

bool IsDirectXPresent()
{
    // Loading the library is the whole test: no version or registry value is consulted.
    return kr::os::CanLoadLibrary("d3dx9_36.dll");
}

bool StartDirectXSetup(const std::string& directory)
{
    return kr::os::StartProgram("dxwebsetup.exe", "/Q", directory);
}
