#pragma once
// Operating-system seam: the running process and the list of processes.
#include <string>
#include <vector>

namespace kr::os {

// Full path of the running executable, in the platform's own form.
std::string ExecutablePath();

// Executable file names of the running processes (not paths). On Windows the first snapshot entry,
// the idle process, is left out, and each name is written to the debugger output.
std::vector<std::string> RunningProcessNames();

} // namespace kr::os
