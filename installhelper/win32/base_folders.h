#pragma once
#include <string>

namespace kr::helper
{

// The shared and the user base folder, without trailing separator: before Windows 6 the common and
// the local application-data folders, from 6 on the Public and the LocalAppDataLow known folders,
// whose UTF-16 names are converted to `codePage` (the launcher gives its own text code page). A
// folder that cannot be found stays "".
void FindBaseFoldersIn(unsigned codePage, std::string& sharedBase, std::string& userBase);
// The library's form: the ANSI code page.
void FindBaseFolders(std::string& sharedBase, std::string& userBase);

} // namespace kr::helper
