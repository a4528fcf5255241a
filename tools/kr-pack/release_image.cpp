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

bool CKrReleaseImage::Scan(const std::string& imageDir)
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

    std::map<std::string, std::string> seen; // lower-cased bare name -> path
    for (const ImageFile& file : m_files)
    {
        if (!file.inData)
            continue;
        if (file.size > 0xFFFFFFFFull)
            return Fail(file.path + ": 4 GiB or more; the file-list cache holds 32-bit sizes");
        auto [it, inserted] = seen.emplace(Lower(BareName(file.path)), file.path);
        if (!inserted)
            return Fail(file.path + " and " + it->second +
                        ": same file name under Data/; the engine keys files by bare name");
    }
    return true;
}
