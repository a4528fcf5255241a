#pragma once
#include <string>
#include <vector>

namespace kr::helper
{

std::string CompiledLauncherServer();
std::vector<std::string> CompiledSignatureKeys();

} // namespace kr::helper
