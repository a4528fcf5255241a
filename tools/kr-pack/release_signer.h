#pragma once
// Signing a packed release: the key file, the items published beside the packages, and the manifest
// <package>.manifest that lists every published file and every file of Data/ with size and SHA-256.
//
// Key file: "kr-release-secret-key 1", then the 64-byte libsodium secret key in hex; lines starting
// with "#" are comments. Created readable by its owner only, never over an existing file.
#include "install/release_crypto.h"
#include "tools/kr-pack/release_image.h"

#include <cstdint>
#include <string>
#include <vector>

bool WriteNewKeyFile(const std::string& path, KrPublicKey* publicKey, std::string& error);
// `warning` is set when others may read the file.
bool ReadKeyFile(const std::string& path, KrSecretKey* secretKey, std::string& error, std::string& warning);

struct SignOptions
{
    std::string packageName = "Data";
    uint64_t release = 0; // 0: one more than the manifest already in OUT_DIR, 1 without one
    std::vector<std::string> items;
    unsigned jobs = 2;
};

struct SignSummary
{
    uint64_t release = 0;
    size_t files = 0;
    size_t dataFiles = 0;
    std::string manifestName;
};

class CKrReleaseSigner
{
public:
    CKrReleaseSigner(const std::string& outDir, const SignOptions& options, const KrSecretKey& secretKey);
    ~CKrReleaseSigner();

    // Before packing: the release number and the items, so that unusable input stops the run before
    // anything is written. False with GetError().
    bool Prepare();
    // After packing: copies the items into OUT_DIR, hashes everything and writes the manifest
    // beside the file list (written last, renamed into place). `packages` as many as were written.
    bool Write(const CKrReleaseImage& image, const std::string& imageDir, size_t packages, SignSummary& summary);
    const std::string& GetError() const { return m_error; }

private:
    bool Fail(const std::string& message);

    std::string m_outDir;
    SignOptions m_options;
    KrSecretKey m_secretKey;
    KrPublicKey m_publicKey{};
    uint64_t m_release = 0;
    std::string m_error;
};
