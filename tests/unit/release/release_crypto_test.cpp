// SHA-256, streamed and from disk, hex, Ed25519 through libsodium, and the build's release key.
#include "install/release_crypto.h"
#include "install/release_key.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

using kr::test::TempDir;
using kr::test::WriteWholeFile;

namespace {

std::string HexOf(const std::string& text)
{
    return ToHex(Sha256Of(text.data(), text.size()));
}

TEST(ReleaseCryptoTest, Sha256KnownAnswersInOneAndInManyPieces)
{
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", HexOf(""));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", HexOf("abc"));
    // A million 'a' in pieces that straddle the 64-byte blocks.
    CKrSha256 hash;
    std::string piece(997, 'a');
    size_t left = 1000000;
    while (left > 0)
    {
        size_t n = left < piece.size() ? left : piece.size();
        hash.Update(piece.data(), n);
        left -= n;
    }
    EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", ToHex(hash.Final()));
    // Final starts over.
    hash.Update("abc", 3);
    EXPECT_EQ(HexOf("abc"), ToHex(hash.Final()));
}

TEST(ReleaseCryptoTest, Sha256FileStreamsEveryByteAndTellsWhatFailed)
{
    TempDir dir;
    std::string big(600 * 1024 + 7, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 31 + (i >> 9));
    WriteWholeFile(dir.Path() + "big.bin", big);
    WriteWholeFile(dir.Path() + "empty.bin", "");

    KrSha256 digest{};
    uint64_t size = 1;
    ASSERT_EQ(KrFileHashResult::Ok, Sha256File(dir.Path() + "big.bin", &digest, &size));
    EXPECT_EQ(big.size(), size);
    EXPECT_EQ(HexOf(big), ToHex(digest));
    ASSERT_EQ(KrFileHashResult::Ok, Sha256File(dir.Path() + "empty.bin", &digest, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(HexOf(""), ToHex(digest));

    EXPECT_EQ(KrFileHashResult::Missing, Sha256File(dir.Path() + "none.bin", &digest, &size));
    EXPECT_EQ(KrFileHashResult::Missing, Sha256File(dir.Path(), &digest, &size)) << "a directory";
    std::atomic<bool> stopped{false};
    EXPECT_EQ(KrFileHashResult::Cancelled, Sha256File(dir.Path() + "big.bin", &digest, &size, &stopped));
}

// A download kept in byte ranges hashes as the file it makes up, whatever the cut points.
TEST(ReleaseCryptoTest, PartsHashAsTheFileTheyMakeUp)
{
    TempDir dir;
    std::string whole(700 * 1024 + 3, '\0');
    for (size_t i = 0; i < whole.size(); ++i)
        whole[i] = static_cast<char>(i * 7 + (i >> 11));
    const size_t cuts[] = {0, 1, 256 * 1024, 256 * 1024 + 1, 600 * 1024, whole.size()};
    std::vector<std::string> parts;
    for (size_t i = 0; i + 1 < sizeof cuts / sizeof cuts[0]; ++i)
    {
        parts.push_back(dir.Path() + "part" + std::to_string(i));
        WriteWholeFile(parts.back(), whole.substr(cuts[i], cuts[i + 1] - cuts[i]));
    }
    KrSha256 digest{};
    uint64_t size = 0;
    ASSERT_EQ(KrFileHashResult::Ok, Sha256Parts(parts, &digest, &size));
    EXPECT_EQ(whole.size(), size);
    EXPECT_EQ(HexOf(whole), ToHex(digest));

    parts.push_back(dir.Path() + "none");
    EXPECT_EQ(KrFileHashResult::Missing, Sha256Parts(parts, &digest, &size)) << "a part that is gone";
}

TEST(ReleaseCryptoTest, HexTakesExactlyTheDigitsOfItsSize)
{
    std::array<uint8_t, 4> bytes{};
    ASSERT_TRUE(FromHex("00ff7A80", &bytes));
    EXPECT_EQ((std::array<uint8_t, 4>{0x00, 0xff, 0x7a, 0x80}), bytes);
    EXPECT_EQ("00ff7a80", ToHex(bytes));
    for (const char* bad : {"", "00ff7a8", "00ff7a800", "00ff7a8g", "00 f7a80", "00ff7a80\n", " 0ff7a80"})
        EXPECT_FALSE(FromHex(bad, &bytes)) << "'" << bad << "'";
}

TEST(ReleaseCryptoTest, SignaturesVerifyOnlyForTheirMessageAndKey)
{
    KrPublicKey publicKey, otherPublic;
    KrSecretKey secretKey, otherSecret;
    ASSERT_TRUE(GenerateSigningKey(&publicKey, &secretKey));
    ASSERT_TRUE(GenerateSigningKey(&otherPublic, &otherSecret));
    EXPECT_NE(publicKey, otherPublic);

    std::string message = "release 7";
    KrSignature signature = SignMessage(message, secretKey);
    EXPECT_TRUE(VerifyMessage(message.data(), message.size(), signature, publicKey));
    EXPECT_FALSE(VerifyMessage(message.data(), message.size(), signature, otherPublic));
    EXPECT_FALSE(VerifyMessage("release 8", 9, signature, publicKey));
    signature[10] ^= 1;
    EXPECT_FALSE(VerifyMessage(message.data(), message.size(), signature, publicKey));

    KrPublicKey derived{};
    ASSERT_TRUE(PublicKeyOf(secretKey, &derived));
    EXPECT_EQ(publicKey, derived);
    // A damaged secret key, in its seed or in its public half, is noticed.
    for (size_t at : {size_t(3), size_t(40)})
    {
        KrSecretKey damaged = secretKey;
        damaged[at] ^= 0x20;
        EXPECT_FALSE(PublicKeyOf(damaged, &derived)) << at;
    }
}

TEST(ReleaseCryptoTest, ReleaseKeyFromTheBuildIsNoneValidOrInvalidNeverQuietlyNone)
{
    KrPublicKey key{};
    EXPECT_EQ(KrReleaseKeyState::None, ParseReleaseKey("", &key));
    EXPECT_EQ(KrReleaseKeyState::None, ParseReleaseKey(nullptr, &key));
    const std::string hex = "995aaef067dedaa2b07ca08e6088a4d493c1be1c018ee04e851e77b1ecc4103e";
    ASSERT_EQ(KrReleaseKeyState::Valid, ParseReleaseKey(hex.c_str(), &key));
    EXPECT_EQ(hex, ToHex(key));
    for (std::string bad : {hex.substr(1), hex + "0", "x" + hex.substr(1), " " + hex, std::string("none")})
        EXPECT_EQ(KrReleaseKeyState::Invalid, ParseReleaseKey(bad.c_str(), &key)) << bad;

    // This build's own key, whatever it was configured to.
    KrReleaseKeyState configured = ConfiguredReleaseKey(&key);
    EXPECT_NE(KrReleaseKeyState::Invalid, configured) << "CMake refuses a malformed key";
    EXPECT_EQ(configured != KrReleaseKeyState::None, IsReleaseSigningConfigured());
}

} // namespace
