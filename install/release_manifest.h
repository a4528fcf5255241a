#pragma once
// The signed manifest of a release: every file the download server publishes and every file of Data/,
// each with its size and SHA-256, signed with the studio's Ed25519 key. kr-pack writes it as
// <package>.manifest beside the file list; the engine reads it before anything else.
//
// Format version 1: text, "\n" line ends, one space between fields, nothing else:
//
//   kr-release-manifest 1
//   package Data
//   release 12
//   file Data.cch 4711 <64 hex>           published files, by their path below the server prefix
//   file Data/level%20one.map.zip 812 <64 hex>
//   data level%20one.map 5000 <64 hex>    files of Data/, by bare name
//   signature ed25519 <128 hex>
//
// The signature is embedded as the last line and covers every byte before that line as received.
// The reader checks it before it parses anything else, so bytes nobody signed reach only the line
// split and libsodium. There is exactly one spelling of each manifest: names percent-encoded (%XX in
// upper case for space, '%' and every byte outside 0x21..0x7E, and for nothing else), numbers in
// decimal without leading zeros, digests in lowercase hex, "file" lines before "data" lines and each
// group sorted by the bytes of the decoded names, without duplicates. Anything else is refused, so what
// the reader accepts is written back byte for byte.
#include "install/release_crypto.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct KrManifestEntry
{
    uint64_t size = 0;
    KrSha256 sha256{};
};

enum class KrManifestResult
{
    Ok,
    Unreadable,         // the file could not be read
    TooLarge,           // more than kMaxBytes
    NotManifest,        // does not start with the header line
    UnsupportedVersion, // a later format
    Unsigned,           // no signature line
    BadSignature,       // the signature does not verify with the key
    Malformed,          // signed, but not a canonical version 1 body
};

enum class KrFileCheck
{
    Match,
    Missing,
    SizeDiffers, // told without reading the file
    HashDiffers,
    Unreadable,
    Cancelled,
};

// A file on disk against its manifest entry: a download before it is extracted or kept, an installed
// file when an installation is verified.
KrFileCheck CheckFile(const std::string& path, const KrManifestEntry& entry,
                      const std::atomic<bool>* keepRunning = nullptr);
// The files `parts` joined in order (a download kept in byte ranges) against the entry.
KrFileCheck CheckParts(const std::vector<std::string>& parts, const KrManifestEntry& entry,
                       const std::atomic<bool>* keepRunning = nullptr);

class CKrReleaseManifest
{
public:
    static constexpr uint32_t kFormatVersion = 1;
    static constexpr size_t kMaxBytes = 64u << 20;
    static constexpr size_t kMaxEntries = 1000000;
    static constexpr size_t kMaxNameBytes = 255;  // one name, decoded
    static constexpr size_t kMaxPathBytes = 1024; // a published path, decoded
    static constexpr size_t kMaxPathDepth = 16;
    static constexpr size_t kMaxPackageBytes = 64;
    static constexpr uint64_t kMaxNumber = 999999999999999999ull; // 18 digits: sizes and release numbers

    // Building. False (and nothing changed) for a name the reader would refuse, a duplicate, a
    // number above kMaxNumber, a release number of 0.
    bool SetPackage(const std::string& package);
    bool SetRelease(uint64_t release);
    bool AddFile(const std::string& publishedName, uint64_t size, const KrSha256& sha256);
    bool AddData(const std::string& bareName, uint64_t size, const KrSha256& sha256);

    // The canonical bytes without the signature line: what is signed.
    std::string Body() const;
    // Body and its signature line: the manifest as published.
    std::string Sign(const KrSecretKey& secretKey) const;

    // Reading untrusted bytes. Anything but Ok leaves the manifest empty.
    KrManifestResult Read(const void* data, size_t size, const KrPublicKey& publicKey);
    KrManifestResult Load(const std::string& path, const KrPublicKey& publicKey);
    // A body without its signature line, unchecked. Only for bytes that were verified otherwise (and
    // for the fuzz target); the engine reads through Read or Load.
    KrManifestResult ParseUnverified(const void* data, size_t size);

    const std::string& Package() const { return m_package; }
    uint64_t Release() const { return m_release; }
    const std::map<std::string, KrManifestEntry>& Files() const { return m_files; }
    const std::map<std::string, KrManifestEntry>& Data() const { return m_data; }
    // Exact bytes; null when not listed.
    const KrManifestEntry* FindFile(const std::string& publishedName) const;
    const KrManifestEntry* FindData(const std::string& bareName) const;

    // One name directly in its directory, usable on Windows: 1..255 bytes, no control characters,
    // none of \ / : * ? " < > |, not ending in a space or a dot (Windows drops those), not a device
    // name (CON, NUL, COM1, ... with or without an extension).
    static bool IsValidBareName(const std::string& name);
    // Bare names joined by "/": no empty part, no "." or "..", no absolute path.
    static bool IsValidPublishedName(const std::string& name);
    static std::string EncodeName(const std::string& name);
    // Only the canonical encoding decodes.
    static bool DecodeName(const std::string& text, std::string* name);
    static const char* Describe(KrManifestResult result);

private:
    void Clear();
    KrManifestResult ParseBody(const char* data, size_t size);

    std::string m_package;
    uint64_t m_release = 0;
    std::map<std::string, KrManifestEntry> m_files;
    std::map<std::string, KrManifestEntry> m_data;
    std::map<std::string, std::string> m_dataFolded; // ASCII lower case -> name: Windows ignores case
};
