#pragma once
// Comparing an installed tree with its image, for the Windows tests (paths reach Linux files through Z:).
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kr::test {

inline std::string Slurp(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Relative paths of files under `expected` that are missing from or differ under `actual`.
inline std::vector<std::string> MissingOrDifferent(const std::filesystem::path& expected,
                                                   const std::filesystem::path& actual)
{
    namespace fs = std::filesystem;
    std::vector<std::string> diffs;
    for (const auto& entry : fs::recursive_directory_iterator(expected))
    {
        if (!entry.is_regular_file())
            continue;
        fs::path rel = fs::relative(entry.path(), expected);
        if (!fs::exists(actual / rel) || Slurp(entry.path()) != Slurp(actual / rel))
            diffs.push_back(rel.generic_string());
    }
    return diffs;
}

} // namespace kr::test
