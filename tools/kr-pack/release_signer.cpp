#include "tools/kr-pack/release_signer.h"

#include "install/release_manifest.h"
#include "platform/files.h"
#include "tools/kr-pack/release_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

const char kKeyHeader[] = "kr-release-secret-key 1";

struct HashJob
{
    std::string name; // published path or bare data name
    std::string path; // on disk
    bool data = false;
    uint64_t expectedSize = 0; // data files: the size the image scan saw
    uint64_t size = 0;
    KrSha256 sha256{};
    KrFileHashResult result = KrFileHashResult::Missing;
};

void HashAll(std::vector<HashJob>& jobs, unsigned threads)
{
    std::atomic<size_t> next{0};
    auto work = [&]() {
        for (size_t j = next++; j < jobs.size(); j = next++)
            jobs[j].result = Sha256File(jobs[j].path, &jobs[j].sha256, &jobs[j].size);
    };
    RunOnThreads(threads, jobs.size(), work);
}

bool WriteWhole(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size())
    {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool CopyFile(const std::string& from, const std::string& to)
{
    std::string temporary = to + ".tmp";
    {
        std::ifstream in(from, std::ios::binary);
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << in.rdbuf();
        if (!in || !out.flush())
        {
            kr::os::RemoveFile(temporary);
            return false;
        }
    }
    if (kr::os::RenameFile(temporary, to))
        return true;
    kr::os::RemoveFile(temporary);
    return false;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat x, y;
    return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

} // namespace

bool WriteNewKeyFile(const std::string& path, KrPublicKey* publicKey, std::string& error)
{
    KrSecretKey secretKey;
    if (!GenerateSigningKey(publicKey, &secretKey))
    {
        error = "no random source for a key";
        return false;
    }
    std::string text = std::string(kKeyHeader) + "\n" + ToHex(secretKey) + "\n";
    WipeSecret(secretKey.data(), secretKey.size());
    // O_EXCL: a studio's only copy of its release key is never overwritten.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
    {
        error = path + (errno == EEXIST ? ": exists already; a key file is never overwritten" : ": cannot create");
        WipeSecret(&text[0], text.size());
        return false;
    }
    // The umask may only take bits away, but say it plainly.
    bool ok = ::fchmod(fd, 0600) == 0 && WriteWhole(fd, text) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    WipeSecret(&text[0], text.size());
    if (!ok)
    {
        ::unlink(path.c_str());
        error = path + ": cannot write";
    }
    return ok;
}

bool ReadKeyFile(const std::string& path, KrSecretKey* secretKey, std::string& error, std::string& warning)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    {
        error = path + ": no such key file";
        return false;
    }
    if (info.st_mode & (S_IRWXG | S_IRWXO))
        warning = path + ": others may read this secret key (chmod 600)";
    std::ifstream in(path, std::ios::binary);
    std::string line, hex;
    bool header = false;
    while (info.st_size < 4096 && std::getline(in, line))
    {
        if (line.empty() || line[0] == '#')
            continue;
        if (!header)
            header = line == kKeyHeader;
        else if (hex.empty())
            hex = line;
        else
            hex = "-"; // more than one key
    }
    KrPublicKey publicKey;
    bool ok = header && FromHex(hex, secretKey) && PublicKeyOf(*secretKey, &publicKey);
    WipeSecret(&hex[0], hex.size());
    WipeSecret(&line[0], line.size());
    if (!ok)
        error = path + ": not a kr-pack secret key (or a damaged one)";
    return ok;
}

CKrReleaseSigner::CKrReleaseSigner(const std::string& outDir, const SignOptions& options, const KrSecretKey& secretKey)
    : m_outDir(outDir), m_options(options), m_secretKey(secretKey)
{
    if (m_outDir.empty() || m_outDir.back() != '/')
        m_outDir += '/';
    PublicKeyOf(m_secretKey, &m_publicKey);
}

CKrReleaseSigner::~CKrReleaseSigner()
{
    WipeSecret(m_secretKey.data(), m_secretKey.size());
}

bool CKrReleaseSigner::Fail(const std::string& message)
{
    if (m_error.empty())
        m_error = message;
    return false;
}

bool CKrReleaseSigner::Prepare()
{
    const std::string manifestName = m_options.packageName + ".manifest";
    for (const std::string& item : m_options.items)
    {
        std::string name = CKrReleaseImage::BareName(item);
        struct stat status;
        if (::stat(item.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
            return Fail("--item " + item + ": no such file");
        if (!CKrReleaseManifest::IsValidBareName(name))
            return Fail("--item " + item + ": a name the engine cannot fetch");
        // These names belong to the release itself.
        bool isPackage = name.size() > 4 && name.compare(name.size() - 4, 4, ".zip") == 0 &&
                         (name == m_options.packageName + ".zip" || name.compare(0, m_options.packageName.size() + 1,
                                                                                  m_options.packageName + "_") == 0);
        if (isPackage || name == m_options.packageName + ".cch" || name == manifestName)
            return Fail("--item " + item + ": the name of one of the release's own files");
    }

    // The last release is only trusted when it verifies with this key.
    std::string previous = m_outDir + manifestName;
    uint64_t last = 0;
    kr::os::FileInfo info;
    if (kr::os::GetFileInfo(previous, info))
    {
        CKrReleaseManifest manifest;
        KrManifestResult read = manifest.Load(previous, m_publicKey);
        if (read == KrManifestResult::Ok)
            last = manifest.Release();
        else if (m_options.release == 0)
            return Fail(previous + ": " + CKrReleaseManifest::Describe(read) +
                        " with this key; give --release N to replace it");
    }
    if (m_options.release != 0 && m_options.release < last)
        return Fail("--release " + std::to_string(m_options.release) + " is lower than release " +
                    std::to_string(last) + " in " + previous + "; installations of it would refuse the new one");
    m_release = m_options.release ? m_options.release : last + 1;
    if (m_release > CKrReleaseManifest::kMaxNumber)
        return Fail("release number out of range");
    return true;
}

bool CKrReleaseSigner::Write(const CKrReleaseImage& image, const std::string& imageDir, size_t packages,
                             SignSummary& summary)
{
    std::string root = imageDir;
    if (root.empty() || root.back() != '/')
        root += '/';
    for (const std::string& item : m_options.items)
    {
        std::string target = m_outDir + CKrReleaseImage::BareName(item);
        if (!SameFile(item, target) && !CopyFile(item, target))
            return Fail("cannot copy " + item + " to " + target);
    }

    std::vector<HashJob> jobs;
    auto published = [&](const std::string& name) { jobs.push_back({name, m_outDir + name}); };
    published(m_options.packageName + ".cch");
    for (size_t p = 0; p < packages; ++p)
        published(CKrReleaseWriter::PackageFileName(m_options.packageName, p));
    for (const std::string& item : m_options.items)
        published(CKrReleaseImage::BareName(item));
    for (const ImageFile& file : image.GetFiles())
    {
        if (!file.inData)
            continue;
        std::string bare = CKrReleaseImage::BareName(file.path);
        published("Data/" + bare + ".zip");
        jobs.push_back({bare, root + file.path, true, file.size});
    }
    HashAll(jobs, m_options.jobs);

    CKrReleaseManifest manifest;
    if (!manifest.SetPackage(m_options.packageName) || !manifest.SetRelease(m_release))
        return Fail("package name or release number not usable in a manifest");
    for (const HashJob& job : jobs)
    {
        if (job.result != KrFileHashResult::Ok)
            return Fail("cannot read " + job.path);
        if (job.data && job.size != job.expectedSize)
            return Fail(job.path + ": changed while packing");
        bool added = job.data ? manifest.AddData(job.name, job.size, job.sha256)
                              : manifest.AddFile(job.name, job.size, job.sha256);
        if (!added)
            return Fail(job.name + ": a name the manifest cannot hold, or listed twice");
    }

    summary.manifestName = m_options.packageName + ".manifest";
    std::string path = m_outDir + summary.manifestName;
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << manifest.Sign(m_secretKey);
        if (!out.flush())
        {
            kr::os::RemoveFile(temporary);
            return Fail("cannot write " + temporary);
        }
    }
    if (!kr::os::RenameFile(temporary, path))
    {
        kr::os::RemoveFile(temporary);
        return Fail("cannot rename " + temporary + " to " + path);
    }
    summary.release = m_release;
    summary.files = manifest.Files().size();
    summary.dataFiles = manifest.Data().size();
    return true;
}
