#pragma once
// The release number last accepted for an installation directory, so that an older signed release
// (a replayed one, with the flaws that were fixed since) is refused: <installDir><package>.release.
//
// Three lines: "kr-installed-release 1", "release N", "check <hex>", the check being the first 16 hex
// digits of the SHA-256 of the two lines before it. Written beside and renamed into place, so a
// crash leaves the old file or the new one; a damaged file is recognised, never read as a number.
#include <cstdint>
#include <string>

struct KrInstalledRelease
{
    enum State
    {
        None,    // no file: nothing signed was installed yet
        Known,
        Damaged, // present but not readable as written
    };
    State state = None;
    uint64_t release = 0; // Known only
};

enum class KrReleaseCheck
{
    Accept,
    Rollback, // lower than the last one installed
};

// `installDir` in the product's form, with or without its trailing separator.
std::string InstalledReleasePath(const std::string& installDir, const std::string& package);
KrInstalledRelease ReadInstalledRelease(const std::string& installDir, const std::string& package);
bool WriteInstalledRelease(const std::string& installDir, const std::string& package, uint64_t release);

// The same release again is accepted (a repair, a second run). A damaged record is accepted too:
// only this machine can damage it, and the signature still vouches for what is installed; refusing
// would leave the installation unable to update at all. The caller then writes the number anew.
KrReleaseCheck CheckReleaseNumber(uint64_t offered, const KrInstalledRelease& last);
