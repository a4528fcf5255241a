#pragma once
// The installation image a release is made from: every file and directory below IMAGE_DIR, checked
// for what the engine and Windows can take.
#include <cstdint>
#include <string>
#include <vector>

struct ImageFile
{
    std::string path;        // relative to the image, "/" separated
    uint64_t size = 0;
    uint64_t lastWrite = 0;  // FILETIME, already in the DOS range (see Scan)
    uint32_t dosDateTime = 0;
    bool inData = false;     // below Data/
};

struct ImageDirectory
{
    std::string path; // relative, "/" separated, no trailing "/"
    uint32_t dosDateTime = 0;
};

class CKrReleaseImage
{
public:
    // Walks `imageDir`. False with a message when the image cannot be released: no Data/
    // directory, a name over 255 bytes or one that Windows cannot hold, a file of 4 GiB or more,
    // or names the engine cannot tell apart (it keys the files of Data/ by bare name, ignoring case
    // as Windows does): two such files of one bare name, a file of Data/ beside the same name +
    // ".zip" (its per-file zip's name), a bare name of Data/ that also stands outside Data/, and a
    // top-level entry named like what the engine keeps there for `packageName` (packages,
    // markers, the file list, the staging folder). Times outside the DOS range are moved to its
    // nearest end and reported in warnings, so that zips and the cache agree.
    bool Scan(const std::string& imageDir, const std::string& packageName = "Data");

    const std::string& GetError() const { return m_error; }
    const std::vector<std::string>& GetWarnings() const { return m_warnings; }
    // Sorted by path (bytes), so the output does not depend on the order of the directory listing.
    const std::vector<ImageFile>& GetFiles() const { return m_files; }
    const std::vector<ImageDirectory>& GetDirectories() const { return m_directories; }
    size_t CountDataFiles() const;

    // "Data/sub/x.bin" -> "sub/x.bin"; "x.bin" -> "x.bin".
    static std::string PathInData(const std::string& path);
    static std::string BareName(const std::string& path);
    // Text Windows cannot use in a file name: control characters and \ / : * ? " < > |, or a
    // name ending in a space or a dot.
    static bool IsPortableName(const std::string& name);

private:
    bool Walk(const std::string& root, const std::string& relative);
    bool Fail(const std::string& message);
    uint32_t ToDos(uint64_t* fileTime, const std::string& path);

    std::string m_error;
    std::vector<std::string> m_warnings;
    std::vector<ImageFile> m_files;
    std::vector<ImageDirectory> m_directories;
};
