#include "tools/kr-pack/release_writer.h"

#include "install/file.h"
#include "install/zip_file.h"
#include "platform/files.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace {

// Parents of "a/b/c.bin": "a", "a/b".
std::vector<std::string> Ancestors(const std::string& path)
{
    std::vector<std::string> out;
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
        out.push_back(path.substr(0, slash));
    return out;
}

// Written beside the target and renamed into place, so a server never publishes half a file.
bool Publish(const std::string& temporary, const std::string& path, std::string& error)
{
    if (kr::os::RenameFile(temporary, path))
        return true;
    kr::os::RemoveFile(temporary);
    error = "cannot rename " + temporary + " to " + path;
    return false;
}

} // namespace

void RunOnThreads(unsigned jobs, size_t tasks, const std::function<void()>& work)
{
    unsigned threads = std::max(1u, std::min<unsigned>(jobs, static_cast<unsigned>(tasks)));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& thread : pool)
        thread.join();
}

std::vector<std::vector<size_t>> CKrReleaseWriter::PlanPackages(const std::vector<ImageFile>& files,
                                                                uint64_t packageSize)
{
    std::vector<std::vector<size_t>> packages(1);
    uint64_t current = 0;
    for (size_t i = 0; i < files.size(); ++i)
    {
        uint64_t size = files[i].size;
        if (!packages.back().empty() && (current + size > packageSize || size > packageSize))
        {
            packages.emplace_back();
            current = 0;
        }
        packages.back().push_back(i);
        current += size;
    }
    return packages;
}

std::string CKrReleaseWriter::PackageFileName(const std::string& packageName, size_t index)
{
    return index == 0 ? packageName + ".zip" : packageName + "_" + std::to_string(index) + ".zip";
}

CKrReleaseWriter::CKrReleaseWriter(const CKrReleaseImage& image, const std::string& imageDir,
                                   const std::string& outDir, const ReleaseOptions& options)
    : m_image(image), m_imageDir(imageDir), m_outDir(outDir), m_options(options)
{
    if (m_imageDir.empty() || m_imageDir.back() != '/')
        m_imageDir += '/';
    if (m_outDir.empty() || m_outDir.back() != '/')
        m_outDir += '/';
}

bool CKrReleaseWriter::WriteFileZip(const ImageFile& file, uint64_t* zipSize, std::string& error) const
{
    std::string path = m_outDir + "Data/" + CKrReleaseImage::BareName(file.path) + ".zip";
    std::string temporary = path + ".tmp";
    std::string inData = CKrReleaseImage::PathInData(file.path);
    std::map<std::string, uint32_t> directoryTimes;
    for (const ImageDirectory& directory : m_image.GetDirectories())
        directoryTimes[directory.path] = directory.dosDateTime;

    CKrZipFile zip;
    bool ok = zip.Open(temporary, false, nullptr, false);
    // The zip is extracted into installDir + "Data\\": it holds the file by its path below Data/,
    // with its directories first so that any reader can create them in order.
    for (const std::string& ancestor : Ancestors(inData))
        ok = ok && zip.AddDirectory(ancestor, directoryTimes["Data/" + ancestor]);
    ok = ok && zip.AddFileFromDisk(inData, m_imageDir + file.path, file.dosDateTime, m_options.deflateLevel);
    zip.Close();
    if (!ok || !kr::os::GetFileSize(temporary, zipSize))
    {
        kr::os::RemoveFile(temporary);
        error = "cannot write " + path;
        return false;
    }
    if (*zipSize >= m_options.maxZipBytes)
    {
        kr::os::RemoveFile(temporary);
        error = path + ": the zip would be 4 GiB or more, which the engine cannot fetch";
        return false;
    }
    return Publish(temporary, path, error);
}

bool CKrReleaseWriter::WritePackage(const std::vector<size_t>& members, bool withAllDirectories,
                                    const std::string& path, uint64_t* zipSize, std::string& error) const
{
    const std::vector<ImageFile>& files = m_image.GetFiles();
    std::map<std::string, uint32_t> directoryTimes;
    for (const ImageDirectory& directory : m_image.GetDirectories())
        directoryTimes[directory.path] = directory.dosDateTime;
    std::set<std::string> directories; // sorted: parents come before their children
    if (withAllDirectories)
        for (const ImageDirectory& directory : m_image.GetDirectories())
            directories.insert(directory.path);
    for (size_t index : members)
        for (const std::string& ancestor : Ancestors(files[index].path))
            directories.insert(ancestor);

    std::string temporary = path + ".tmp";
    CKrZipFile zip;
    bool ok = zip.Open(temporary, false, nullptr, false);
    for (const std::string& directory : directories)
        ok = ok && zip.AddDirectory(directory, directoryTimes[directory]);
    for (size_t index : members)
        ok = ok && zip.AddFileFromDisk(files[index].path, m_imageDir + files[index].path, files[index].dosDateTime,
                                       m_options.deflateLevel);
    zip.Close();
    if (!ok || !kr::os::GetFileSize(temporary, zipSize))
    {
        kr::os::RemoveFile(temporary);
        error = "cannot write " + path;
        return false;
    }
    if (*zipSize >= m_options.maxZipBytes)
    {
        kr::os::RemoveFile(temporary);
        error = path + ": the package would be 4 GiB or more, which the engine cannot fetch; use a smaller --package-size";
        return false;
    }
    return Publish(temporary, path, error);
}

bool CKrReleaseWriter::WriteCache(const std::vector<uint64_t>& zipSizes, std::string& error) const
{
    std::string path = m_outDir + m_options.packageName + ".cch";
    std::string temporary = path + ".tmp";
    const std::vector<ImageFile>& files = m_image.GetFiles();
    CKrFile cache;
    bool ok = cache.Open(temporary, "wb");
    uint32_t header[2] = {m_options.cacheVersion, static_cast<uint32_t>(m_image.CountDataFiles())};
    ok = ok && cache.SerializeInt32(header, 2);
    int32_t order = 0;
    for (size_t i = 0; i < files.size() && ok; ++i)
    {
        if (!files[i].inData)
            continue;
        std::string name = CKrReleaseImage::BareName(files[i].path);
        uint32_t record[6] = {
            static_cast<uint32_t>(files[i].lastWrite & 0xFFFFFFFFu),
            static_cast<uint32_t>(files[i].lastWrite >> 32),
            static_cast<uint32_t>(order++),
            static_cast<uint32_t>(files[i].size),
            0,
            static_cast<uint32_t>(std::min<uint64_t>(zipSizes[i], 0xFFFFFFFFu)),
        };
        ok = cache.SerializeString(name) && cache.SerializeInt32(record, 6);
    }
    ok = cache.Close() == 0 && ok;
    if (!ok)
    {
        kr::os::RemoveFile(temporary);
        error = "cannot write " + path;
        return false;
    }
    return Publish(temporary, path, error);
}

bool CKrReleaseWriter::Write(ReleaseSummary& summary)
{
    summary = ReleaseSummary();
    m_error.clear();
    if (!kr::os::MakeDirectories(m_outDir + "Data"))
    {
        m_error = "cannot create " + m_outDir + "Data";
        return false;
    }
    const std::vector<ImageFile>& files = m_image.GetFiles();
    std::vector<std::vector<size_t>> packages = PlanPackages(files, m_options.packageSize);

    // Jobs: one per file of Data/, then one per package; each writes its own output file.
    struct Job
    {
        bool package;
        size_t index;
    };
    std::vector<Job> jobs;
    for (size_t i = 0; i < files.size(); ++i)
        if (files[i].inData)
            jobs.push_back({false, i});
    for (size_t p = 0; p < packages.size(); ++p)
        jobs.push_back({true, p});

    std::vector<uint64_t> zipSizes(files.size(), 0);
    std::vector<uint64_t> packageSizes(packages.size(), 0);
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex lock;
    auto work = [&]() {
        for (size_t j = next++; j < jobs.size() && !failed; j = next++)
        {
            const Job& job = jobs[j];
            std::string error, line;
            bool ok;
            if (job.package)
            {
                std::string name = PackageFileName(m_options.packageName, job.index);
                ok = WritePackage(packages[job.index], job.index == 0, m_outDir + name, &packageSizes[job.index], error);
                line = "package " + name + ": " + std::to_string(packages[job.index].size()) + " files, " +
                       std::to_string(packageSizes[job.index]) + " bytes";
            }
            else
            {
                const ImageFile& file = files[job.index];
                ok = WriteFileZip(file, &zipSizes[job.index], error);
                line = "file    Data/" + CKrReleaseImage::BareName(file.path) + ".zip: " + std::to_string(file.size) +
                       " -> " + std::to_string(zipSizes[job.index]) + " bytes";
            }
            std::lock_guard<std::mutex> guard(lock);
            if (!ok)
            {
                if (!failed.exchange(true))
                    m_error = error;
                return;
            }
            if (m_progress)
                m_progress("[" + std::to_string(j + 1) + "/" + std::to_string(jobs.size()) + "] " + line);
        }
    };
    RunOnThreads(m_options.jobs, jobs.size(), work);
    if (failed)
        return false;

    if (!WriteCache(zipSizes, m_error))
        return false;

    // A package left over from a bigger release would be taken as the next one by the engine.
    for (size_t k = packages.size();; ++k)
    {
        std::string stale = m_outDir + PackageFileName(m_options.packageName, k);
        if (!kr::os::RemoveFile(stale))
            break;
        ++summary.stalePackagesRemoved;
    }

    summary.packages = packages.size();
    for (size_t i = 0; i < files.size(); ++i)
    {
        summary.imageBytes += files[i].size;
        if (files[i].inData)
        {
            ++summary.fileZips;
            summary.fileZipBytes += zipSizes[i];
        }
    }
    for (uint64_t size : packageSizes)
        summary.packageBytes += size;
    return true;
}
