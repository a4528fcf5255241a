#include "install/release_manifest.h"

#include "platform/files.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char kHeader[] = "kr-release-manifest ";
const char kSignaturePrefix[] = "signature ";
const char kSignatureLine[] = "signature ed25519 ";

bool NeedsEscape(unsigned char c)
{
    return c <= 0x20 || c >= 0x7F || c == '%';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1; // lower case is not canonical
}

std::string FoldCase(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool IsDeviceName(const std::string& name)
{
    std::string base = FoldCase(name.substr(0, name.find('.')));
    if (base == "con" || base == "prn" || base == "aux" || base == "nul")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

// Canonical decimal: digits only, no leading zero, at most 18 digits.
bool ParseNumber(const std::string& text, uint64_t* value)
{
    if (text.empty() || text.size() > 18 || (text[0] == '0' && text.size() > 1))
        return false;
    uint64_t v = 0;
    for (char c : text)
    {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = v;
    return true;
}

bool ParseDigest(const std::string& text, KrSha256* digest)
{
    return FromHex(text, digest) && ToHex(*digest) == text; // lowercase only
}

// The fields of one line; every field non-empty, split at single spaces.
bool SplitFields(const std::string& line, size_t count, std::vector<std::string>* fields)
{
    fields->clear();
    size_t start = 0;
    for (;;)
    {
        size_t space = line.find(' ', start);
        std::string field = line.substr(start, space == std::string::npos ? std::string::npos : space - start);
        if (field.empty() || fields->size() == count)
            return false;
        fields->push_back(field);
        if (space == std::string::npos)
            break;
        start = space + 1;
    }
    return fields->size() == count;
}

class LineReader
{
public:
    LineReader(const char* data, size_t size) : m_data(data), m_size(size) {}
    bool AtEnd() const { return m_pos == m_size; }
    // False at the end or for a last line without its "\n".
    bool Next(std::string* line)
    {
        const void* found = m_pos < m_size ? std::memchr(m_data + m_pos, '\n', m_size - m_pos) : nullptr;
        if (!found)
            return false;
        size_t end = static_cast<size_t>(static_cast<const char*>(found) - m_data);
        line->assign(m_data + m_pos, end - m_pos);
        m_pos = end + 1;
        return true;
    }

private:
    const char* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

} // namespace

KrFileCheck CheckFile(const std::string& path, const KrManifestEntry& entry, const std::atomic<bool>* keepRunning)
{
    return CheckParts({path}, entry, keepRunning);
}

KrFileCheck CheckParts(const std::vector<std::string>& parts, const KrManifestEntry& entry,
                       const std::atomic<bool>* keepRunning)
{
    uint64_t total = 0;
    for (const std::string& path : parts)
    {
        kr::os::FileInfo info;
        if (!kr::os::GetFileInfo(path, info) || (info.attributes & kr::os::kAttrDirectory))
            return KrFileCheck::Missing;
        total += info.size;
    }
    if (total != entry.size)
        return KrFileCheck::SizeDiffers;
    KrSha256 digest;
    uint64_t size = 0;
    switch (Sha256Parts(parts, &digest, &size, keepRunning))
    {
    case KrFileHashResult::Ok: break;
    case KrFileHashResult::Missing: return KrFileCheck::Missing;
    case KrFileHashResult::Unreadable: return KrFileCheck::Unreadable;
    case KrFileHashResult::Cancelled: return KrFileCheck::Cancelled;
    }
    // The size again: a part may have changed while it was read.
    if (size != entry.size)
        return KrFileCheck::SizeDiffers;
    return digest == entry.sha256 ? KrFileCheck::Match : KrFileCheck::HashDiffers;
}

bool CKrReleaseManifest::IsValidBareName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxNameBytes || name.back() == ' ' || name.back() == '.')
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr)
            return false;
    return !IsDeviceName(name);
}

bool CKrReleaseManifest::IsValidPublishedName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxPathBytes)
        return false;
    size_t start = 0, parts = 0;
    for (;;)
    {
        size_t slash = name.find('/', start);
        if (++parts > kMaxPathDepth || !IsValidBareName(name.substr(start, slash - start)))
            return false;
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

std::string CKrReleaseManifest::EncodeName(const std::string& name)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name)
    {
        if (NeedsEscape(c))
        {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
        else
            out += static_cast<char>(c);
    }
    return out;
}

bool CKrReleaseManifest::DecodeName(const std::string& text, std::string* name)
{
    name->clear();
    for (size_t i = 0; i < text.size(); ++i)
    {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '%')
        {
            int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
            int low = high >= 0 ? HexValue(text[i + 2]) : -1;
            if (low < 0 || !NeedsEscape(static_cast<unsigned char>(high * 16 + low)))
                return false;
            *name += static_cast<char>(high * 16 + low);
            i += 2;
        }
        else if (NeedsEscape(c))
            return false;
        else
            *name += static_cast<char>(c);
    }
    return true;
}

const char* CKrReleaseManifest::Describe(KrManifestResult result)
{
    switch (result)
    {
    case KrManifestResult::Ok: return "verified";
    case KrManifestResult::Unreadable: return "cannot be read";
    case KrManifestResult::TooLarge: return "too large";
    case KrManifestResult::NotManifest: return "not a release manifest";
    case KrManifestResult::UnsupportedVersion: return "a later manifest format";
    case KrManifestResult::Unsigned: return "not signed";
    case KrManifestResult::BadSignature: return "signature does not verify";
    case KrManifestResult::Malformed: return "signed but malformed";
    }
    return "unknown";
}

void CKrReleaseManifest::Clear()
{
    m_package.clear();
    m_release = 0;
    m_files.clear();
    m_data.clear();
    m_dataFolded.clear();
}

bool CKrReleaseManifest::SetPackage(const std::string& package)
{
    if (!IsValidBareName(package) || package.size() > kMaxPackageBytes || package.find('.') != std::string::npos)
        return false;
    m_package = package;
    return true;
}

bool CKrReleaseManifest::SetRelease(uint64_t release)
{
    if (release == 0 || release > kMaxNumber)
        return false;
    m_release = release;
    return true;
}

bool CKrReleaseManifest::AddFile(const std::string& publishedName, uint64_t size, const KrSha256& sha256)
{
    if (!IsValidPublishedName(publishedName) || size > kMaxNumber || m_files.size() + m_data.size() >= kMaxEntries)
        return false;
    return m_files.emplace(publishedName, KrManifestEntry{size, sha256}).second;
}

bool CKrReleaseManifest::AddData(const std::string& bareName, uint64_t size, const KrSha256& sha256)
{
    if (!IsValidBareName(bareName) || size > kMaxNumber || m_files.size() + m_data.size() >= kMaxEntries ||
        m_dataFolded.count(FoldCase(bareName)))
        return false;
    m_dataFolded.emplace(FoldCase(bareName), bareName);
    m_data.emplace(bareName, KrManifestEntry{size, sha256});
    return true;
}

std::string CKrReleaseManifest::Body() const
{
    std::string out = kHeader + std::to_string(kFormatVersion) + "\n";
    out += "package " + EncodeName(m_package) + "\n";
    out += "release " + std::to_string(m_release) + "\n";
    for (const auto& [name, entry] : m_files)
        out += "file " + EncodeName(name) + " " + std::to_string(entry.size) + " " + ToHex(entry.sha256) + "\n";
    for (const auto& [name, entry] : m_data)
        out += "data " + EncodeName(name) + " " + std::to_string(entry.size) + " " + ToHex(entry.sha256) + "\n";
    return out;
}

std::string CKrReleaseManifest::Sign(const KrSecretKey& secretKey) const
{
    std::string body = Body();
    return body + kSignatureLine + ToHex(SignMessage(body, secretKey)) + "\n";
}

const KrManifestEntry* CKrReleaseManifest::FindFile(const std::string& publishedName) const
{
    auto it = m_files.find(publishedName);
    return it == m_files.end() ? nullptr : &it->second;
}

const KrManifestEntry* CKrReleaseManifest::FindData(const std::string& bareName) const
{
    auto it = m_data.find(bareName);
    return it == m_data.end() ? nullptr : &it->second;
}

KrManifestResult CKrReleaseManifest::Read(const void* data, size_t size, const KrPublicKey& publicKey)
{
    Clear();
    const char* bytes = static_cast<const char*>(data);
    if (size > kMaxBytes)
        return KrManifestResult::TooLarge;
    // The version comes first so that a later format is told apart from garbage.
    const size_t headerSize = sizeof kHeader - 1;
    if (size < headerSize || std::memcmp(bytes, kHeader, headerSize) != 0)
        return KrManifestResult::NotManifest;
    const void* lineEnd = std::memchr(bytes, '\n', size < 64 ? size : 64);
    uint64_t version = 0;
    if (!lineEnd ||
        !ParseNumber(std::string(bytes + headerSize, static_cast<const char*>(lineEnd)), &version))
        return KrManifestResult::NotManifest;
    if (version != kFormatVersion)
        return KrManifestResult::UnsupportedVersion;

    // The last line, complete or not.
    size_t searchEnd = bytes[size - 1] == '\n' ? size - 1 : size;
    size_t lastStart = searchEnd;
    while (lastStart > 0 && bytes[lastStart - 1] != '\n')
        --lastStart;
    std::string lastLine(bytes + lastStart, size - lastStart);
    if (lastLine.compare(0, sizeof kSignaturePrefix - 1, kSignaturePrefix) != 0)
        return KrManifestResult::Unsigned;
    const size_t prefixSize = sizeof kSignatureLine - 1;
    KrSignature signature;
    if (lastLine.size() != prefixSize + 2 * signature.size() + 1 || lastLine.back() != '\n' ||
        lastLine.compare(0, prefixSize, kSignatureLine) != 0 ||
        !FromHex(lastLine.substr(prefixSize, 2 * signature.size()), &signature) ||
        ToHex(signature) != lastLine.substr(prefixSize, 2 * signature.size()) || // lowercase only: one spelling
        !VerifyMessage(bytes, lastStart, signature, publicKey))
        return KrManifestResult::BadSignature;
    return ParseBody(bytes, lastStart);
}

KrManifestResult CKrReleaseManifest::Load(const std::string& path, const KrPublicKey& publicKey)
{
    Clear();
    std::FILE* file = kr::os::OpenFile(path, "rb");
    if (!file)
        return KrManifestResult::Unreadable;
    // One byte more than allowed tells a file that is too large from one that fits exactly.
    std::string bytes;
    char block[64 * 1024];
    size_t got;
    while (bytes.size() <= kMaxBytes && (got = std::fread(block, 1, sizeof block, file)) > 0)
        bytes.append(block, got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return KrManifestResult::Unreadable;
    return Read(bytes.data(), bytes.size(), publicKey);
}

KrManifestResult CKrReleaseManifest::ParseUnverified(const void* data, size_t size)
{
    Clear();
    if (size > kMaxBytes)
        return KrManifestResult::TooLarge;
    return ParseBody(static_cast<const char*>(data), size);
}

KrManifestResult CKrReleaseManifest::ParseBody(const char* data, size_t size)
{
    LineReader lines(data, size);
    std::string line;
    std::vector<std::string> fields;
    uint64_t number = 0;
    std::string name;
    bool ok = lines.Next(&line) && line == kHeader + std::to_string(kFormatVersion) && lines.Next(&line) &&
              SplitFields(line, 2, &fields) && fields[0] == "package" && DecodeName(fields[1], &name) &&
              SetPackage(name) && lines.Next(&line) && SplitFields(line, 2, &fields) && fields[0] == "release" &&
              ParseNumber(fields[1], &number) && SetRelease(number);
    bool inData = false;
    const std::string* previous = nullptr;
    while (ok && !lines.AtEnd())
    {
        KrManifestEntry entry;
        ok = lines.Next(&line) && SplitFields(line, 4, &fields) && (fields[0] == "file" || fields[0] == "data") &&
             DecodeName(fields[1], &name) && ParseNumber(fields[2], &entry.size) && ParseDigest(fields[3], &entry.sha256);
        if (!ok)
            break;
        if (fields[0] == "data" && !inData)
        {
            inData = true;
            previous = nullptr;
        }
        // Strictly ascending within each group: sorted and without duplicates.
        ok = (fields[0] == "data") == inData && (!previous || *previous < name) &&
             (inData ? AddData(name, entry.size, entry.sha256) : AddFile(name, entry.size, entry.sha256));
        if (ok)
        {
            auto& group = inData ? m_data : m_files;
            previous = &group.find(name)->first;
        }
    }
    if (!ok)
    {
        Clear();
        return KrManifestResult::Malformed;
    }
    return KrManifestResult::Ok;
}
