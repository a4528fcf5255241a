// The compiled-in launcher server and signature keys of one build of the library.
#include "installhelper/win32/helper_config.h"

#include <cstdlib>

namespace kr::helper
{

std::string CompiledLauncherServer()
{
#ifdef KR_HELPER_TEST_BUILD
    // Only the test copy of the library reads this, never the shipped one.
    if (const char* server = std::getenv("KR_TEST_HELPER_LAUNCHER_SERVER"); server && *server)
        return server;
#endif
    return KR_HELPER_LAUNCHER_SERVER;
}

std::vector<std::string> CompiledSignatureKeys()
{
    std::vector<std::string> keys;
    std::string all = KR_SIGNATURE_KEYS;
    size_t start = 0;
    for (;;)
    {
        size_t comma = all.find(',', start);
        keys.push_back(all.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return keys;
}

} // namespace kr::helper
