#pragma once
#include <functional>
#include <string>

namespace kr::test {

// Value of an environment variable, or "" when unset. Integration tests find the servers that the
// test wrapper started (and the source tree) through the environment, on Linux and under Wine alike.
std::string Env(const char* name);

// Polls `condition` every few milliseconds until it holds or `timeoutMs` passed; its last answer.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

// Directory of the source tree (KR_SOURCE_DIR), with a trailing separator.
std::string SourceDir();

} // namespace kr::test
