#pragma once
// Operating-system seam: probing for a shared library and starting an outside program.
#include <string>

namespace kr::os
{

// True when the named library can be loaded now (it is released again at once).
bool CanLoadLibrary(const std::string& name);

// Starts `file` (a path, or a name relative to `directory`) with the command-line text `parameters`
// and `directory` as its working directory, minimised where the platform has windows. Does not wait.
bool StartProgram(const std::string& file, const std::string& parameters, const std::string& directory);

} // namespace kr::os
