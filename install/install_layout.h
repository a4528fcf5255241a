#pragma once
// Every name the engine gives to what it keeps on the server and in an installation directory, in
// one place (the layout, plus the staging folder of the downloads in flight):
//
//   installDir + P + ".cch"                 the file list, moved here once complete and readable
//   installDir + P + ".install", P_i ...    package markers (one rule for writing, testing, deleting)
//   installDir + P + ".release"             the release number last installed (signed releases)
//   installDir + P + ".download\\"          the staging folder; the scan never looks inside it:
//       P.zip, P_1.zip, ...                 packages until they are extracted
//       pieces\P_1.zip.<first>-<last>      byte ranges of a package until it is extracted
//       files\\<name>.zip                   per-file zips until they are extracted
//       items\\<name>                       directly fetched items until they are complete
//       P.cch                               the file list until it is complete and readable
//       P.manifest                          the signed manifest (signed releases) while it is read
//       info\\<same relative path>          what validates each partial download (for resuming)
//
// P is the package name ("Data" in the launcher). Downloads never land under a name that a game
// file can have: kr-pack refuses images with a top-level entry ending in ".download" or named like
// a package, a marker or the file list.
#include <cstdint>
#include <string>

class CKrInstallLayout
{
public:
    void Configure(const std::string& installDir, const std::string& packageName);

    const std::string& InstallDir() const { return m_installDir; }
    const std::string& PackageBase() const { return m_packageName; }

    // "P.zip" for index 0, "P_<index>.zip" after that.
    std::string PackageName(int index) const;
    // installDir + "P.install" / "P_<index>.install".
    std::string MarkerPath(int index) const;
    std::string CacheName() const { return m_packageName + ".cch"; }
    std::string CachePath() const { return m_installDir + CacheName(); }

    std::string StagingDir() const { return m_installDir + m_packageName + kStagingSuffix + "\\"; }
    std::string StagedPackage(int index) const { return StagingDir() + PackageName(index); }
    // Bytes first..last of the package staged at `stagedPackage`; named by its range, so pieces cut
    // another way by an earlier run are never taken for these.
    std::string PiecePath(const std::string& stagedPackage, uint64_t first, uint64_t last) const
    {
        return StagingDir() + "pieces\\" + BareOf(stagedPackage) + "." + std::to_string(first) + "-" +
               std::to_string(last);
    }
    std::string StagedFileZip(const std::string& name) const { return StagingDir() + "files\\" + name + ".zip"; }
    std::string StagedItem(const std::string& name) const { return StagingDir() + "items\\" + name; }
    std::string StagedCache() const { return StagingDir() + CacheName(); }
    // The signed manifest beside the file list on the server.
    std::string ManifestName() const { return m_packageName + ".manifest"; }
    std::string StagedManifest() const { return StagingDir() + ManifestName(); }
    // The sidecar that validates a staged file (only for paths inside the staging folder).
    std::string InfoPath(const std::string& stagedPath) const;

    // The remote name of a list file's zip: the literal "Data\\", whatever the package name.
    static std::string FileZipRemoteName(const std::string& name) { return "Data\\" + name + ".zip"; }
    // A remote name as the manifest lists it: "/" between its parts.
    static std::string PublishedName(std::string remoteName)
    {
        for (char& c : remoteName)
            if (c == '\\')
                c = '/';
        return remoteName;
    }
    // True for a directory name the engines keep for themselves (ends in ".download").
    static bool IsStagingName(const std::string& name);

    static constexpr const char* kStagingSuffix = ".download";

private:
    static std::string BareOf(const std::string& path)
    {
        size_t slash = path.find_last_of("/\\");
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }

    std::string m_installDir;
    std::string m_packageName;
};
