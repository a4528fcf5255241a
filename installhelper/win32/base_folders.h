#pragma once
#include <string>

namespace kr::helper
{

// The shared and the user base folder, in the ANSI code page and without trailing separator:
// before Windows 6 the common and the local application-data folders, from 6 on the Public and
// the LocalAppDataLow known folders. A folder that cannot be found stays "".
void FindBaseFolders(std::string& sharedBase, std::string& userBase);

} // namespace kr::helper
