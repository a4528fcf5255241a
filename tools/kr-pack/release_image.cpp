#include "tools/kr-pack/release_image.h"

#include "install/path_utils.h"
#include "platform/files.h"

#include <algorithm>
#include <map>

namespace {

constexpr size_t kMaxNameBytes = 255;

std::string Lower(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace

std::string CKrReleaseImage::PathInData(const std::string& path)
{
    return path.compare(0, 5, "Data/") == 0 ? path.substr(5) : path;
}

std::string CKrReleaseImage::BareName(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool CKrReleaseImage::IsPortableName(const std::string& name)
{
    if (name.empty() || name.back() == ' ' || name.back() == '.')
        return false;
    for (char c : name)
    {
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
        if (std::string("\\/:*?\"<>|").find(c) != std::string::npos)
            return false;
    }
    return true;
}

size_t CKrReleaseImage::CountDataFiles() const
{
    return static_cast<size_t>(std::count_if(m_files.begin(), m_files.end(), [](const ImageFile& f) { return f.inData; }));
}

bool CKrReleaseImage::Fail(const std::string& message)
{
    if (m_error.empty())
        m_error = message;
    return false;
}

uint32_t CKrReleaseImage::ToDos(uint64_t* fileTime, const std::string& path)
{
    uint32_t dos = 0;
    if (FileTimeToDosDateTime32(*fileTime, &dos))
        return dos;
    // Outside 1980..2107: the nearest end, used for the zip entry and the cache alike.
    uint64_t first = 0, last = 0;
    DosToFileTime(0x0021, 0, &first);                                  // 1980-01-01 00:00:00
    DosToFileTime(static_cast<uint16_t>((127 << 9) | (12 << 5) | 31), // 2107-12-31 23:59:58
                  static_cast<uint16_t>((23 << 11) | (59 << 5) | 29), &last);
    *fileTime = *fileTime < first ? first : last;
    FileTimeToDosDateTime32(*fileTime, &dos);
    m_warnings.push_back(path + ": time outside the zip range, stored as " + (*fileTime == first ? "1980-01-01" : "2107-12-31"));
    return dos;
}

bool CKrReleaseImage::Walk(const std::string& root, const std::string& relative)
{
    std::vector<kr::os::FileInfo> entries;
    if (!kr::os::ListDirectory(root + relative, entries))
        return Fail("cannot list " + root + relative);
    for (kr::os::FileInfo& entry : entries)
    {
        if (entry.name == "." || entry.name == "..")
            continue;
        std::string path = relative + entry.name;
        if (entry.name.size() > kMaxNameBytes)
            return Fail(path + ": name longer than 255 bytes");
        if (!IsPortableName(entry.name))
            return Fail(path + ": name not usable on Windows");
        if (entry.attributes & kr::os::kAttrDirectory)
        {
            ImageDirectory directory;
            directory.path = path;
            directory.dosDateTime = ToDos(&entry.lastWrite, path);
            m_directories.push_back(directory);
            if (!Walk(root, path + "/"))
                return false;
            continue;
        }
        ImageFile file;
        file.path = path;
        file.size = entry.size;
        file.lastWrite = entry.lastWrite;
        file.dosDateTime = ToDos(&file.lastWrite, path);
        file.inData = path.compare(0, 5, "Data/") == 0;
        m_files.push_back(file);
    }
    return true;
}

namespace {

// A top-level name the engine gives to its own files for `package` (compared without case).
bool IsEngineName(const std::string& lowered, const std::string& package)
{
    const std::string p = Lower(package);
    auto endsWith = [&](const std::string& suffix) {
        return lowered.size() >= suffix.size() && lowered.compare(lowered.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (endsWith(".download"))
        return true;
    if (lowered == p + ".cch" || lowered == p + ".zip" || lowered == p + ".install" || lowered == p + ".manifest" ||
        lowered == p + ".release")
        return true;
    if (lowered.compare(0, p.size() + 1, p + "_") != 0)
        return false;
    std::string rest = lowered.substr(p.size() + 1);
    size_t dot = rest.find('.');
    if (dot == std::string::npos || dot == 0 || rest.find_first_not_of("0123456789") != dot)
        return false;
    std::string extension = rest.substr(dot);
    return extension == ".zip" || extension == ".install";
}

} // namespace

bool CKrReleaseImage::Scan(const std::string& imageDir, const std::string& packageName)
{
    m_error.clear();
    m_warnings.clear();
    m_files.clear();
    m_directories.clear();
    if (!kr::os::IsDirectory(imageDir))
        return Fail(imageDir + ": not a directory");
    std::string root = imageDir;
    if (root.back() != '/')
        root += '/';
    if (!kr::os::IsDirectory(root + "Data"))
        return Fail(root + "Data: missing; the image must hold the game data in Data/");
    if (!Walk(root, ""))
        return false;

    std::sort(m_files.begin(), m_files.end(), [](const ImageFile& a, const ImageFile& b) { return a.path < b.path; });
    std::sort(m_directories.begin(), m_directories.end(),
              [](const ImageDirectory& a, const ImageDirectory& b) { return a.path < b.path; });

    std::map<std::string, std::string> seen;    // lower-cased bare name under Data/ -> path
    std::map<std::string, std::string> outside; // lower-cased bare name outside Data/ -> path
    for (const ImageFile& file : m_files)
    {
        // Packages hold whole files and the engine's sizes are 32-bit: nothing of 4 GiB or more.
        if (file.size > 0xFFFFFFFFull - 0x10000)
            return Fail(file.path + ": 4 GiB or more; packages and the file-list cache hold 32-bit sizes");
        if (file.path.find('/') == std::string::npos && IsEngineName(Lower(file.path), packageName))
            return Fail(file.path + ": the engine keeps a file of that name in the installation directory");
        if (!file.inData)
        {
            outside.emplace(Lower(BareName(file.path)), file.path);
            continue;
        }
        auto [it, inserted] = seen.emplace(Lower(BareName(file.path)), file.path);
        if (!inserted)
            return Fail(file.path + " and " + it->second +
                        ": same file name under Data/; the engine keys files by bare name");
    }
    for (const ImageDirectory& directory : m_directories)
    {
        if (directory.path.find('/') == std::string::npos && IsEngineName(Lower(directory.path), packageName))
            return Fail(directory.path + ": the engine keeps a folder of that name in the installation directory");
    }
    for (const auto& entry : seen)
    {
        auto zip = seen.find(entry.first + ".zip");
        if (zip != seen.end())
            return Fail(zip->second + " beside " + entry.second + ": the name of the other's per-file zip");
        auto beside = outside.find(entry.first);
        if (beside != outside.end())
            return Fail(entry.second + " and " + beside->second +
                        ": a file of Data/ whose name also stands outside it; the engine keys files by bare name");
    }
    return true;
}
