#pragma once
// Writes what a download server publishes for one installation image: the numbered fresh-install
// packages, one zip per file of Data/ and the file-list cache.
#include "tools/kr-pack/release_image.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ReleaseOptions
{
    std::string packageName = "Data";
    uint64_t packageSize = 256ull << 20;
    int deflateLevel = 6;
    unsigned jobs = 2;
    uint32_t cacheVersion = 258;
    // No zip of this size or more is written (the engine's sizes are 32-bit).
    uint64_t maxZipBytes = 0x100000000ull;
};

struct ReleaseSummary
{
    size_t packages = 0;
    size_t fileZips = 0;
    uint64_t imageBytes = 0;
    uint64_t packageBytes = 0;
    uint64_t fileZipBytes = 0;
    size_t stalePackagesRemoved = 0;
};

// `work` on min(jobs, tasks) threads (at least the caller's own); each call takes tasks until none are left.
void RunOnThreads(unsigned jobs, size_t tasks, const std::function<void()>& work);

class CKrReleaseWriter
{
public:
    // Files of each package, in image order: whole files, a package closes before it would grow
    // past `packageSize`, and a bigger file gets a package of its own.
    static std::vector<std::vector<size_t>> PlanPackages(const std::vector<ImageFile>& files, uint64_t packageSize);
    // NAME.zip, NAME_1.zip, ...
    static std::string PackageFileName(const std::string& packageName, size_t index);

    CKrReleaseWriter(const CKrReleaseImage& image, const std::string& imageDir, const std::string& outDir,
                     const ReleaseOptions& options);

    // One line per written zip; called from the worker threads, one call at a time.
    void SetProgress(std::function<void(const std::string&)> progress) { m_progress = std::move(progress); }

    // False with GetError() on the first failure to write.
    bool Write(ReleaseSummary& summary);
    const std::string& GetError() const { return m_error; }

private:
    bool WriteFileZip(const ImageFile& file, uint64_t* zipSize, std::string& error) const;
    bool WritePackage(const std::vector<size_t>& members, bool withAllDirectories, const std::string& path,
                      uint64_t* zipSize, std::string& error) const;
    bool WriteCache(const std::vector<uint64_t>& zipSizes, std::string& error) const;

    const CKrReleaseImage& m_image;
    std::string m_imageDir;
    std::string m_outDir;
    ReleaseOptions m_options;
    std::function<void(const std::string&)> m_progress;
    std::string m_error;
};
