// Zip packages from the download server: extraction of any archive bytes must write only below the
// target folder, only under names the archive holds, and report every refused entry as a failure.
#include "install/zip_file.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/temp_dir.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kMaxNames = 4096;

std::vector<std::string> EntryNamesOf(const std::string& zipPath)
{
    std::vector<std::string> names;
    unzFile reader = unzOpen64(zipPath.c_str());
    if (!reader)
        return names;
    std::vector<char> buffer(65536 + 1);
    for (int status = unzGoToFirstFile(reader); status == UNZ_OK && names.size() < kMaxNames;
         status = unzGoToNextFile(reader))
    {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(reader, &info, buffer.data(), static_cast<uLong>(buffer.size() - 1), nullptr, 0,
                                    nullptr, 0) != UNZ_OK)
            break;
        buffer[std::min<std::size_t>(info.size_filename, buffer.size() - 1)] = 0;
        names.emplace_back(buffer.data());
    }
    unzClose(reader);
    return names;
}

// Where an entry name would land below `target` if taken literally, "\\" read as a separator.
fs::path Landing(const fs::path& target, std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    fs::path landing = (target / fs::path(name).relative_path()).lexically_normal();
    return landing.has_filename() ? landing : landing.parent_path();
}

bool Exists(const fs::path& path)
{
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

bool IsBelow(const fs::path& path, const fs::path& dir)
{
    auto rel = path.lexically_relative(dir);
    return !rel.empty() && *rel.begin() != "..";
}

std::vector<std::string> Children(const fs::path& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const std::unique_ptr<kr::test::TempDir> root(new kr::test::TempDir);
    // Three empty levels above the archive's folder show escapes by ".." as extra entries.
    const fs::path tmp = fs::path(root->Path()) / "run";
    const fs::path folder = tmp / "a" / "b" / "c";
    const fs::path target = folder / "target";
    fs::create_directories(target);
    const std::string zipPath = (folder / "in.zip").string();
    kr::test::WriteWholeFile(zipPath, std::string(reinterpret_cast<const char*>(data), size));

    // Names that would leave the nest (absolute, or too many ".."): remember what exists there now.
    const std::vector<std::string> names = EntryNamesOf(zipPath);
    std::vector<std::pair<fs::path, bool>> outside;
    std::set<fs::path> allowed;
    for (const std::string& name : names)
    {
        std::string plain = name;
        std::replace(plain.begin(), plain.end(), '\\', '/');
        if (!plain.empty() && plain[0] == '/')
            outside.emplace_back(fs::path(plain).lexically_normal(), Exists(plain));
        const fs::path landing = Landing(target, name);
        if (!IsBelow(landing, tmp))
            outside.emplace_back(landing, Exists(landing));
        for (fs::path p = landing; IsBelow(p, target); p = p.parent_path())
            allowed.insert(p);
    }

    CKrZipFile zip;
    if (zip.Open(zipPath))
    {
        // The input's length picks the options, so that the archive bytes stay untouched.
        zip.SetReplaceBackslashes(size % 2 == 1);
        const bool ok = zip.ExtractAll((target.string() + "/").c_str(), size % 4 < 2);
        const CKrZipFile::ExtractStats& stats = zip.GetExtractStats();
        KR_FUZZ_CHECK(stats.entriesRefused == 0 || !ok);
        KR_FUZZ_CHECK(stats.filesWritten + stats.entriesSkipped + stats.entriesRefused <= names.size());
    }
    zip.Close();

    for (const auto& [path, existed] : outside)
        KR_FUZZ_CHECK(existed || !Exists(path));
    KR_FUZZ_CHECK(Children(tmp) == std::vector<std::string>{"a"});
    KR_FUZZ_CHECK(Children(tmp / "a") == std::vector<std::string>{"b"});
    KR_FUZZ_CHECK(Children(tmp / "a" / "b") == std::vector<std::string>{"c"});
    KR_FUZZ_CHECK((Children(folder) == std::vector<std::string>{"in.zip", "target"}));

    // Everything below the target is an entry's own path or one of its parent folders.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(target, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        KR_FUZZ_CHECK(allowed.count(it->path().lexically_normal()) == 1);

    fs::remove_all(tmp, ec);
    return 0;
}
