// The release manifest from bytes. What the strict parser accepts is canonical (it writes back byte for
// byte), holds only names that stay in their directory, finds every entry it lists, and, signed, reads
// back the same through the verifying reader. The verifying reader accepts only what the parser
// accepts from the signed part. Inputs are also parsed without their last line, so signed seeds reach
// the parser.
#include "install/release_manifest.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

struct Keys
{
    Keys() { KR_FUZZ_CHECK(GenerateSigningKey(&publicKey, &secretKey)); }
    KrPublicKey publicKey;
    KrSecretKey secretKey;
};

// The development key of tools/keys, which signed the seeds.
KrPublicKey DevelopmentKey()
{
    KrPublicKey key{};
    KR_FUZZ_CHECK(FromHex(std::string("995aaef067dedaa2b07ca08e6088a4d493c1be1c018ee04e851e77b1ecc4103e"), &key));
    return key;
}

bool SameContent(const CKrReleaseManifest& a, const CKrReleaseManifest& b)
{
    auto same = [](const std::map<std::string, KrManifestEntry>& x, const std::map<std::string, KrManifestEntry>& y) {
        if (x.size() != y.size())
            return false;
        for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j)
            if (i->first != j->first || i->second.size != j->second.size || i->second.sha256 != j->second.sha256)
                return false;
        return true;
    };
    return a.Package() == b.Package() && a.Release() == b.Release() && same(a.Files(), b.Files()) &&
           same(a.Data(), b.Data());
}

void CheckParse(const char* data, size_t size, const Keys& keys)
{
    CKrReleaseManifest manifest;
    KrManifestResult result = manifest.ParseUnverified(data, size);
    if (result != KrManifestResult::Ok)
    {
        KR_FUZZ_CHECK(result == KrManifestResult::Malformed || result == KrManifestResult::TooLarge);
        KR_FUZZ_CHECK(manifest.Files().empty() && manifest.Data().empty() && manifest.Release() == 0);
        return;
    }
    KR_FUZZ_CHECK(manifest.Body() == std::string(data, size));
    KR_FUZZ_CHECK(manifest.Release() >= 1);
    KR_FUZZ_CHECK(manifest.Files().size() + manifest.Data().size() <= CKrReleaseManifest::kMaxEntries);
    for (const auto& [name, entry] : manifest.Files())
    {
        KR_FUZZ_CHECK(CKrReleaseManifest::IsValidPublishedName(name));
        KR_FUZZ_CHECK(name[0] != '/' && name.find("..") != 0 && name.find("/../") == std::string::npos &&
                      name.find('\\') == std::string::npos);
        KR_FUZZ_CHECK(manifest.FindFile(name) == &entry);
    }
    for (const auto& [name, entry] : manifest.Data())
    {
        KR_FUZZ_CHECK(CKrReleaseManifest::IsValidBareName(name));
        KR_FUZZ_CHECK(name.find_first_of("/\\:") == std::string::npos && name != "..");
        KR_FUZZ_CHECK(manifest.FindData(name) == &entry);
    }

    std::string signedText = manifest.Sign(keys.secretKey);
    CKrReleaseManifest reread;
    KR_FUZZ_CHECK(reread.Read(signedText.data(), signedText.size(), keys.publicKey) == KrManifestResult::Ok);
    KR_FUZZ_CHECK(SameContent(manifest, reread));
    std::string tampered = signedText;
    tampered[tampered.size() / 3] ^= 0x04;
    KR_FUZZ_CHECK(reread.Read(tampered.data(), tampered.size(), keys.publicKey) != KrManifestResult::Ok);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static const Keys keys;
    static const KrPublicKey development = DevelopmentKey();
    const char* data = reinterpret_cast<const char*>(bytes);

    CheckParse(data, size, keys);
    size_t lastStart = size > 1 ? size - 1 : 0;
    while (lastStart > 0 && data[lastStart - 1] != '\n')
        --lastStart;
    CheckParse(data, lastStart, keys);

    CKrReleaseManifest verified;
    if (verified.Read(data, size, development) == KrManifestResult::Ok)
    {
        CKrReleaseManifest plain;
        KR_FUZZ_CHECK(plain.ParseUnverified(data, lastStart) == KrManifestResult::Ok);
        KR_FUZZ_CHECK(SameContent(verified, plain));
    }
    else
        KR_FUZZ_CHECK(verified.Files().empty() && verified.Release() == 0);
    return 0;
}
