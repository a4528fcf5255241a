// What the sample game runtime keeps of its start: the value of one -name=value option and where the
// command line is written. Plain C++ so the rules can be read without a window.
#pragma once

#include <string>

namespace kr_sample
{

// The value of the first token "-name=..." (name compared without case), or "" when absent. Tokens are
// separated by blanks, like the launcher's own options.
std::string OptionValue(const std::string& commandLine, const std::string& name);

// userDataPath + "game-start.txt", with a backslash added when the path does not end in a separator.
std::string StartRecordPath(const std::string& userDataPath);

// Writes the command line and a line break to the record file; false when it cannot be written.
bool WriteStartRecord(const std::string& path, const std::string& commandLine);

} // namespace kr_sample
