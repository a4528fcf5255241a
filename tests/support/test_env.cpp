#include "tests/support/test_env.h"

#include <cstdlib>

namespace kr::test {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string SourceDir()
{
    std::string dir = Env("KR_SOURCE_DIR");
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\')
        dir += '/';
    return dir;
}

} // namespace kr::test
