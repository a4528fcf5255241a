#include "install/installed_release.h"

#include "install/release_crypto.h"
#include "platform/files.h"

#include <cstdio>

namespace {

const char kHeader[] = "kr-installed-release 1\n";
constexpr size_t kMaxFileBytes = 256;

std::string CheckOf(const std::string& lines)
{
    return ToHex(Sha256Of(lines.data(), lines.size())).substr(0, 16);
}

std::string Contents(uint64_t release)
{
    std::string lines = kHeader + ("release " + std::to_string(release) + "\n");
    return lines + "check " + CheckOf(lines) + "\n";
}

} // namespace

std::string InstalledReleasePath(const std::string& installDir, const std::string& package)
{
    std::string dir = installDir;
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/')
        dir += '\\';
    return dir + package + ".release";
}

KrInstalledRelease ReadInstalledRelease(const std::string& installDir, const std::string& package)
{
    KrInstalledRelease result;
    std::string path = InstalledReleasePath(installDir, package);
    kr::os::FileInfo info;
    if (!kr::os::GetFileInfo(path, info))
        return result;
    result.state = KrInstalledRelease::Damaged;
    std::FILE* file = kr::os::OpenFile(path, "rb");
    if (!file)
        return result;
    char bytes[kMaxFileBytes + 1];
    size_t size = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);
    std::string text(bytes, size);

    // Rebuilt from the number it names, the file must come out byte for byte.
    const std::string prefix = std::string(kHeader) + "release ";
    if (size > kMaxFileBytes || text.compare(0, prefix.size(), prefix) != 0)
        return result;
    uint64_t release = 0;
    size_t digits = 0;
    for (size_t i = prefix.size(); i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 18; ++i, ++digits)
        release = release * 10 + static_cast<uint64_t>(text[i] - '0');
    if (digits == 0 || release == 0 || Contents(release) != text)
        return result;
    result.state = KrInstalledRelease::Known;
    result.release = release;
    return result;
}

bool WriteInstalledRelease(const std::string& installDir, const std::string& package, uint64_t release)
{
    if (release == 0)
        return false;
    std::string path = InstalledReleasePath(installDir, package);
    std::string temporary = path + ".tmp";
    std::string contents = Contents(release);
    std::FILE* file = kr::os::OpenFile(temporary, "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok || !kr::os::RenameFile(temporary, path))
    {
        kr::os::RemoveFile(temporary);
        return false;
    }
    return true;
}

KrReleaseCheck CheckReleaseNumber(uint64_t offered, const KrInstalledRelease& last)
{
    if (last.state == KrInstalledRelease::Known && offered < last.release)
        return KrReleaseCheck::Rollback;
    return KrReleaseCheck::Accept;
}
