#pragma once
// Runs the native kr-pack of this build (Linux only, like the packer) and reads back what it wrote.
#include "platform/files.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

namespace kr::test {

struct PackResult
{
    int exitCode = -1;
    std::string output;
};

// `args` as a shell would take them; the output of both streams is kept.
inline PackResult Pack(const TempDir& dir, const std::string& args)
{
    std::string packer = Env("KR_BINARY_DIR") + "/bin/kr-pack";
    std::string log = dir.Path() + "pack.log";
    int status = std::system((packer + " " + args + " >'" + log + "' 2>&1").c_str());
    PackResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.output = ReadWholeFile(log);
    return result;
}

// Deterministic bytes that do not compress.
inline std::string Noise(size_t size, unsigned seed)
{
    std::string data(size, '\0');
    uint32_t x = seed * 2654435761u + 7;
    for (char& c : data)
    {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return data;
}

// Every file below `root`, relative path -> contents; directories as path + "/" -> "".
inline void Collect(const std::string& root, const std::string& relative, std::map<std::string, std::string>& out)
{
    std::vector<kr::os::FileInfo> entries;
    kr::os::ListDirectory(root + relative, entries);
    for (const auto& e : entries)
    {
        if (e.name == "." || e.name == "..")
            continue;
        std::string path = relative + e.name;
        if (e.attributes & kr::os::kAttrDirectory)
        {
            out[path + "/"] = "";
            Collect(root, path + "/", out);
        }
        else
            out[path] = ReadWholeFile(root + path);
    }
}

} // namespace kr::test
