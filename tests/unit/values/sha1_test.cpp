#include "services/sha1.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

std::string HashHex(const std::string& message)
{
    CKrHashSHA1 sha;
    sha.Reset();
    sha.Update(message.data(), message.size());
    sha.Final();
    std::string hex;
    sha.GetHashHex(hex);
    return hex;
}

std::string HmacHex(const std::string& key, const std::string& data)
{
    CKrHMacSha1 mac;
    mac.HMAC_SHA1(data.data(), data.size(), key.data(), key.size());
    std::string hex = "stale text that must be replaced";
    mac.GetHashHex(hex);
    return hex;
}

TEST(Sha1Test, FipsExamplesAndBlockBoundaries)
{
    EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", HashHex("abc"));
    EXPECT_EQ("da39a3ee5e6b4b0d3255bfef95601890afd80709", HashHex(""));
    // 56 bytes: the length no longer fits the first block.
    EXPECT_EQ("84983e441c3bd26ebaae4aa1f95129e5e54670f1",
              HashHex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
}

TEST(Sha1Test, PiecewiseUpdatesMatchOneUpdate)
{
    // A million 'a' fed in uneven pieces crosses every position inside a block.
    std::string chunk(997, 'a');
    CKrHashSHA1 sha;
    size_t remaining = 1000000;
    size_t piece = 1;
    while (remaining > 0)
    {
        size_t n = std::min({piece, remaining, chunk.size()});
        sha.Update(chunk.data(), n);
        remaining -= n;
        piece = piece * 3 % 1000 + 1;
    }
    sha.Final();
    std::string hex;
    sha.GetHashHex(hex);
    EXPECT_EQ("34aa973cd4c4daa4f61eeb2bdbad27316534016f", hex);
}

TEST(Sha1Test, FinalWipesStateSoReuseNeedsReset)
{
    CKrHashSHA1 sha;
    sha.Update("abc", 3);
    sha.Final();
    sha.Update("abc", 3);
    sha.Final();
    std::string hex;
    sha.GetHashHex(hex);
    EXPECT_NE("a9993e364706816aba3e25717850c26c9cd0d89d", hex);

    sha.Reset();
    sha.Update("abc", 3);
    sha.Final();
    sha.GetHashHex(hex);
    EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", hex);
}

TEST(HmacSha1Test, Rfc2202Vectors)
{
    std::string key4;
    for (char c = 1; c <= 25; ++c)
        key4.push_back(c);
    const std::string bigKey(80, '\xaa');
    struct Case
    {
        std::string key, data, mac;
    } cases[] = {
        {std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {std::string(20, '\xaa'), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {key4, std::string(50, '\xcd'), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {std::string(20, '\x0c'), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {bigKey, "Test Using Larger Than Block-Size Key - Hash Key First", "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {bigKey, "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.mac, HmacHex(c.key, c.data)) << c.data;
}

TEST(HmacSha1Test, KeyLengthsAroundTheBlockSizeAndEmptyInputs)
{
    std::string key64, key65;
    for (int i = 0; i < 65; ++i)
        (i < 64 ? key64 : key65).push_back(static_cast<char>(i));
    key65 = key64 + key65;
    // 64 bytes are used as they are; 65 are hashed first.
    EXPECT_EQ("ea0254d7ad556218f4722ee78bba1dd24b873a5c", HmacHex(key64, "x"));
    EXPECT_EQ("72fcff71194e73fb61fdd5fe41e504d918c76c38", HmacHex(key65, "x"));
    EXPECT_EQ("fbdb1d1b18aa6c08324b7d64b71fb76370690e1d", HmacHex("", ""));

    CKrHMacSha1 mac;
    mac.HMAC_SHA1(nullptr, 0, nullptr, 0);
    std::string hex;
    mac.GetHashHex(hex);
    EXPECT_EQ("fbdb1d1b18aa6c08324b7d64b71fb76370690e1d", hex);
    EXPECT_EQ(std::string::npos, hex.find_first_not_of("0123456789abcdef"));
}

TEST(HmacSha1Test, ObjectIsReusableForTheNextMessage)
{
    CKrHMacSha1 mac;
    std::string body = "{\"customer_id\":1234}";
    for (int round = 0; round < 2; ++round)
    {
        mac.HMAC_SHA1(body.data(), body.size(), "T", 1);
        std::string hex;
        mac.GetHashHex(hex);
        EXPECT_EQ("719f75c85ca3c2626c6936a7d5567b23ad802efc", hex);
    }
}

} // namespace
