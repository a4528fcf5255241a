// kr-pack IMAGE_DIR OUT_DIR [--package NAME] [--package-size MIB] [--jobs N]
//         [--sign KEYFILE [--release N] [--item FILE]...]
// kr-pack --keygen KEYFILE
//
// Turns the image of an installation directory into what the download server publishes, signed
// when a key is given.
// Exit codes: 0 done, 1 a write failed, 2 unusable arguments or input.
#include "platform/files.h"
#include "tools/kr-pack/release_image.h"
#include "tools/kr-pack/release_signer.h"
#include "tools/kr-pack/release_writer.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr int kExitWriteFailed = 1;
constexpr int kExitUnusable = 2;

const char kUsage[] =
    "usage: kr-pack IMAGE_DIR OUT_DIR [--package NAME] [--package-size MIB] [--jobs N]\n"
    "               [--sign KEYFILE [--release N] [--item FILE]...]\n"
    "       kr-pack --keygen KEYFILE\n"
    "  IMAGE_DIR     image of an installation directory; its Data/ folder holds the game data\n"
    "  OUT_DIR       receives NAME.zip, NAME_1.zip, ..., Data/<file>.zip and NAME.cch\n"
    "  --package     base name of the packages and the cache (default Data)\n"
    "  --package-size  MiB of file data per package (default 256)\n"
    "  --jobs        compression threads (default: the processor count)\n"
    "  --sign        also write NAME.manifest, signed with the secret key in KEYFILE\n"
    "  --release     release number of the manifest (default: one more than the one in OUT_DIR, else 1)\n"
    "  --item        a file published beside the packages (copied into OUT_DIR), listed in the manifest\n"
    "  --keygen      write a new key pair: the secret key into KEYFILE (owner only), the public key\n"
    "                in hex to standard output\n";

int KeyGen(const std::string& path)
{
    KrPublicKey publicKey;
    std::string error;
    kr::os::FileInfo existing;
    bool exists = kr::os::GetFileInfo(path, existing);
    if (!WriteNewKeyFile(path, &publicKey, error))
    {
        std::fprintf(stderr, "kr-pack: %s\n", error.c_str());
        return exists ? kExitUnusable : kExitWriteFailed;
    }
    std::printf("%s\n", ToHex(publicKey).c_str());
    return 0;
}

int Unusable(const std::string& message)
{
    std::fprintf(stderr, "kr-pack: %s\n", message.c_str());
    return kExitUnusable;
}

bool ParseCount(const std::string& text, uint64_t max, uint64_t* value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return false;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return *value >= 1 && *value <= max;
}

// True when `inner` is `outer` or lies below it.
bool IsWithin(const std::filesystem::path& inner, const std::filesystem::path& outer)
{
    std::error_code ec;
    auto a = std::filesystem::weakly_canonical(inner, ec);
    auto b = std::filesystem::weakly_canonical(outer, ec);
    auto mismatch = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
    return mismatch.first == b.end();
}

} // namespace

int main(int argc, char** argv)
{
    std::string positional[2];
    int positionals = 0;
    ReleaseOptions options;
    SignOptions signing;
    std::string keyFile;
    unsigned hardware = std::thread::hardware_concurrency();
    options.jobs = hardware ? hardware : 2;
    for (int i = 1; i < argc; ++i)
    {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help")
        {
            std::fputs(kUsage, stdout);
            return 0;
        }
        bool hasValue = i + 1 < argc;
        uint64_t number = 0;
        if (arg == "--package")
        {
            if (!hasValue)
                return Unusable("--package needs a name");
            options.packageName = argv[++i];
            if (options.packageName.empty() || options.packageName.find_first_of("/\\:*?\"<>|.") != std::string::npos)
                return Unusable("--package: a plain file name without dots or separators is needed");
        }
        else if (arg == "--package-size")
        {
            // Packages stay well below 4 GiB, which the engine's 32-bit sizes cannot hold.
            if (!hasValue || !ParseCount(argv[++i], 3584, &number))
                return Unusable("--package-size needs a number of MiB from 1 to 3584");
            options.packageSize = number << 20;
        }
        else if (arg == "--keygen")
        {
            if (!hasValue || argc != 3)
                return Unusable("--keygen takes one KEYFILE and nothing else");
            return KeyGen(argv[++i]);
        }
        else if (arg == "--sign")
        {
            if (!hasValue)
                return Unusable("--sign needs a key file");
            keyFile = argv[++i];
        }
        else if (arg == "--release")
        {
            if (!hasValue || !ParseCount(argv[++i], 999999999, &number))
                return Unusable("--release needs a number from 1 to 999999999");
            signing.release = number;
        }
        else if (arg == "--item")
        {
            if (!hasValue)
                return Unusable("--item needs a file");
            signing.items.push_back(argv[++i]);
        }
        else if (arg == "--jobs")
        {
            if (!hasValue || !ParseCount(argv[++i], 64, &number))
                return Unusable("--jobs needs a number from 1 to 64");
            options.jobs = static_cast<unsigned>(number);
        }
        else if (!arg.empty() && arg[0] == '-')
            return Unusable("unknown option " + arg + "\n" + kUsage);
        else if (positionals < 2)
            positional[positionals++] = arg;
        else
            return Unusable(std::string("too many arguments\n") + kUsage);
    }
    if (positionals != 2)
        return Unusable(std::string("IMAGE_DIR and OUT_DIR are needed\n") + kUsage);
    const std::string& imageDir = positional[0];
    const std::string& outDir = positional[1];
    if (IsWithin(outDir, imageDir))
        return Unusable("OUT_DIR must not lie inside IMAGE_DIR");
    if (keyFile.empty() && (signing.release || !signing.items.empty()))
        return Unusable("--release and --item belong to --sign");

    // Everything about signing is checked before a single file is written.
    std::unique_ptr<CKrReleaseSigner> signer;
    if (!keyFile.empty())
    {
        KrSecretKey secretKey;
        std::string error, warning;
        if (!ReadKeyFile(keyFile, &secretKey, error, warning))
            return Unusable(error);
        if (!warning.empty())
            std::printf("warning: %s\n", warning.c_str());
        signing.packageName = options.packageName;
        signing.jobs = options.jobs;
        signer = std::make_unique<CKrReleaseSigner>(outDir, signing, secretKey);
        WipeSecret(secretKey.data(), secretKey.size());
        if (!signer->Prepare())
            return Unusable(signer->GetError());
    }

    CKrReleaseImage image;
    if (!image.Scan(imageDir, options.packageName))
        return Unusable(image.GetError());
    for (const std::string& warning : image.GetWarnings())
        std::printf("warning: %s\n", warning.c_str());
    std::printf("image %s: %zu files (%zu in Data/), %zu directories\n", imageDir.c_str(), image.GetFiles().size(),
                image.CountDataFiles(), image.GetDirectories().size());

    CKrReleaseWriter writer(image, imageDir, outDir, options);
    writer.SetProgress([](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
    ReleaseSummary summary;
    if (!writer.Write(summary))
    {
        std::fprintf(stderr, "kr-pack: %s\n", writer.GetError().c_str());
        return kExitWriteFailed;
    }
    std::printf("done: %zu package(s) %s.zip.. of %llu bytes, %zu file zips of %llu bytes, %s.cch version %u with "
                "%zu records; image %llu bytes",
                summary.packages, options.packageName.c_str(), static_cast<unsigned long long>(summary.packageBytes),
                summary.fileZips, static_cast<unsigned long long>(summary.fileZipBytes), options.packageName.c_str(),
                options.cacheVersion, summary.fileZips, static_cast<unsigned long long>(summary.imageBytes));
    if (summary.stalePackagesRemoved)
        std::printf("; %zu stale package(s) removed", summary.stalePackagesRemoved);
    std::printf("\n");
    if (signer)
    {
        SignSummary signed_;
        if (!signer->Write(image, imageDir, summary.packages, signed_))
        {
            std::fprintf(stderr, "kr-pack: %s\n", signer->GetError().c_str());
            return kExitWriteFailed;
        }
        std::printf("signed: %s release %llu, %zu published files, %zu files of Data/\n",
                    signed_.manifestName.c_str(), static_cast<unsigned long long>(signed_.release), signed_.files,
                    signed_.dataFiles);
    }
    return 0;
}
