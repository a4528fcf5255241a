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
    // directory, two files under Data/ whose bare names are equal ignoring case (the engine keys
    // files by bare name and Windows ignores case), a name over 255 bytes or one that Windows
    // cannot hold, or a file under Data/ of 4 GiB or more. Times outside the DOS range are moved
    // to its nearest end and reported in warnings, so that zips and the cache agree.
    bool Scan(const std::string& imageDir);

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
