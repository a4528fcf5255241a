#pragma once
#include <string>
#include <vector>

namespace kr::test {

// A fresh directory under the system temp folder, removed with everything in it on destruction.
// Path() ends with the platform separator.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Sorted names of the entries of a directory (without "." and "..").
std::vector<std::string> EntryNames(const std::string& dir);

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);

} // namespace kr::test
