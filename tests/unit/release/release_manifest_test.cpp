// The release manifest: written, signed and read back; every kind of tampering refused; only the one
// canonical spelling accepted, with names that cannot leave their directory.
#include "install/release_manifest.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kr::test::TempDir;
using kr::test::WriteWholeFile;

namespace {

KrSha256 Digest(const std::string& text)
{
    return Sha256Of(text.data(), text.size());
}

class ReleaseManifestTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(GenerateSigningKey(&s_public, &s_secret));
        ASSERT_TRUE(GenerateSigningKey(&s_otherPublic, &s_otherSecret));
    }

    // Names with spaces, '%', bytes above 0x7F (UTF-8 and not), nested published paths.
    static CKrReleaseManifest Sample()
    {
        CKrReleaseManifest m;
        EXPECT_TRUE(m.SetPackage("Data"));
        EXPECT_TRUE(m.SetRelease(12));
        EXPECT_TRUE(m.AddFile("Data.cch", 4711, Digest("cch")));
        EXPECT_TRUE(m.AddFile("Data.zip", 123456789012ull, Digest("zip")));
        EXPECT_TRUE(m.AddFile("Data/level one.map.zip", 812, Digest("level")));
        EXPECT_TRUE(m.AddFile("Data/caf\xc3\xa9 100%.pak.zip", 0, Digest("cafe")));
        EXPECT_TRUE(m.AddFile("Splash.zip", 99, Digest("splash")));
        EXPECT_TRUE(m.AddData("level one.map", 5000, Digest("level data")));
        EXPECT_TRUE(m.AddData("caf\xc3\xa9 100%.pak", 0, Digest("")));
        EXPECT_TRUE(m.AddData("\xe9t\xe9.bin", 7, Digest("latin-1 name")));
        return m;
    }

    static void ExpectSame(const CKrReleaseManifest& want, const CKrReleaseManifest& got)
    {
        EXPECT_EQ(want.Package(), got.Package());
        EXPECT_EQ(want.Release(), got.Release());
        ASSERT_EQ(want.Files().size(), got.Files().size());
        ASSERT_EQ(want.Data().size(), got.Data().size());
        for (const auto& [name, entry] : want.Files())
        {
            const KrManifestEntry* found = got.FindFile(name);
            ASSERT_NE(nullptr, found) << name;
            EXPECT_EQ(entry.size, found->size) << name;
            EXPECT_EQ(entry.sha256, found->sha256) << name;
        }
        for (const auto& [name, entry] : want.Data())
        {
            const KrManifestEntry* found = got.FindData(name);
            ASSERT_NE(nullptr, found) << name;
            EXPECT_EQ(entry.size, found->size) << name;
            EXPECT_EQ(entry.sha256, found->sha256) << name;
        }
    }

    static KrManifestResult ReadText(const std::string& text, const KrPublicKey& key = s_public)
    {
        CKrReleaseManifest m;
        KrManifestResult result = m.Read(text.data(), text.size(), key);
        if (result != KrManifestResult::Ok)
        {
            EXPECT_TRUE(m.Files().empty() && m.Data().empty() && m.Release() == 0) << "refused yet filled";
        }
        return result;
    }

    // A body the parser sees only when its signature verifies.
    static std::string SignBody(const std::string& body, const KrSecretKey& key = s_secret)
    {
        return body + "signature ed25519 " + ToHex(SignMessage(body, key)) + "\n";
    }

    static KrPublicKey s_public, s_otherPublic;
    static KrSecretKey s_secret, s_otherSecret;
};

KrPublicKey ReleaseManifestTest::s_public, ReleaseManifestTest::s_otherPublic;
KrSecretKey ReleaseManifestTest::s_secret, ReleaseManifestTest::s_otherSecret;

TEST_F(ReleaseManifestTest, SignedManifestReadsBackWithEveryNameAndLookup)
{
    CKrReleaseManifest written = Sample();
    std::string text = written.Sign(s_secret);
    EXPECT_NE(std::string::npos, text.find("file Data/caf%C3%A9%20100%25.pak.zip 0 ")) << text;
    EXPECT_NE(std::string::npos, text.find("data %E9t%E9.bin 7 ")) << text;

    CKrReleaseManifest read;
    ASSERT_EQ(KrManifestResult::Ok, read.Read(text.data(), text.size(), s_public));
    ExpectSame(written, read);
    EXPECT_EQ(written.Body(), read.Body());
    EXPECT_EQ(nullptr, read.FindFile("data.zip")) << "published names are exact";
    EXPECT_EQ(nullptr, read.FindData("Data/level one.map")) << "data files go by bare name";
    EXPECT_EQ(nullptr, read.FindFile("level one.map")) << "the two lists are apart";

    // Written in another order, the bytes are the same.
    CKrReleaseManifest reversed;
    reversed.SetPackage("Data");
    reversed.SetRelease(12);
    std::vector<std::pair<std::string, KrManifestEntry>> files(written.Files().rbegin(), written.Files().rend());
    for (const auto& [name, entry] : files)
        reversed.AddFile(name, entry.size, entry.sha256);
    std::vector<std::pair<std::string, KrManifestEntry>> data(written.Data().rbegin(), written.Data().rend());
    for (const auto& [name, entry] : data)
        reversed.AddData(name, entry.size, entry.sha256);
    EXPECT_EQ(text, reversed.Sign(s_secret));

    TempDir dir;
    WriteWholeFile(dir.Path() + "Data.manifest", text);
    CKrReleaseManifest loaded;
    ASSERT_EQ(KrManifestResult::Ok, loaded.Load(dir.Path() + "Data.manifest", s_public));
    ExpectSame(written, loaded);
    EXPECT_EQ(KrManifestResult::Unreadable, loaded.Load(dir.Path() + "none.manifest", s_public));
}

TEST_F(ReleaseManifestTest, EveryChangedByteAndEveryTruncationIsRefused)
{
    const std::string text = Sample().Sign(s_secret);
    for (size_t i = 0; i < text.size(); ++i)
    {
        for (char flip : {'\x01', '\x20'})
        {
            std::string changed = text;
            changed[i] ^= flip;
            EXPECT_NE(KrManifestResult::Ok, ReadText(changed)) << "byte " << i << " ^ " << int(flip);
        }
    }
    for (size_t size = 0; size < text.size(); ++size)
        EXPECT_NE(KrManifestResult::Ok, ReadText(text.substr(0, size))) << "cut at " << size;

    // The header and the signature line are where changes land with a distinct answer.
    EXPECT_EQ(KrManifestResult::BadSignature, ReadText("kr-release-manifest 1\npackage Data\nrelease 13" +
                                                       text.substr(text.find("\nfile "))));
    std::string signature = text;
    size_t digit = signature.rfind(' ') + 5;
    signature[digit] = signature[digit] == '0' ? '1' : '0';
    EXPECT_EQ(KrManifestResult::BadSignature, ReadText(signature));
}

TEST_F(ReleaseManifestTest, UnsignedOtherKeysLaterFormatsAndOversizeAreTold)
{
    CKrReleaseManifest sample = Sample();
    const std::string body = sample.Body();
    EXPECT_EQ(KrManifestResult::Unsigned, ReadText(body));
    EXPECT_EQ(KrManifestResult::Unsigned, ReadText(sample.Sign(s_secret) + "file extra 1 " + std::string(64, '0') + "\n"))
        << "bytes after the signature";
    EXPECT_EQ(KrManifestResult::BadSignature, ReadText(sample.Sign(s_otherSecret)));
    EXPECT_EQ(KrManifestResult::Ok, ReadText(sample.Sign(s_otherSecret), s_otherPublic));
    EXPECT_EQ(KrManifestResult::BadSignature, ReadText(body + "signature ed25519 " + std::string(128, '0') + "\n"));
    EXPECT_EQ(KrManifestResult::BadSignature, ReadText(body + "signature rsa " + std::string(128, '0') + "\n"));
    EXPECT_EQ(KrManifestResult::NotManifest, ReadText(""));
    EXPECT_EQ(KrManifestResult::NotManifest, ReadText("<html>404</html>\n"));
    EXPECT_EQ(KrManifestResult::NotManifest, ReadText("kr-release-manifest x\n"));
    EXPECT_EQ(KrManifestResult::UnsupportedVersion, ReadText("kr-release-manifest 2\nwhatever comes in it\n"));

    std::string huge = SignBody(body);
    huge.resize(CKrReleaseManifest::kMaxBytes + 1, '\n');
    EXPECT_EQ(KrManifestResult::TooLarge, ReadText(huge));
}

TEST_F(ReleaseManifestTest, SignedButNotCanonicalIsMalformed)
{
    const std::string head = "kr-release-manifest 1\npackage Data\nrelease 3\n";
    const std::string zero = std::string(64, '0');
    const std::string line = " 1 " + zero + "\n";
    ASSERT_EQ(KrManifestResult::Ok, ReadText(SignBody(head + "file a" + line + "file b" + line + "data a" + line)));
    ASSERT_EQ(KrManifestResult::Ok, ReadText(SignBody(head))) << "an empty release is still a release";

    struct
    {
        const char* what;
        std::string body;
    } cases[] = {
        {"files out of order", head + "file b" + line + "file a" + line},
        {"duplicate file", head + "file a" + line + "file a" + line},
        {"data before file", head + "data a" + line + "file a" + line},
        {"data names equal but for case", head + "data Map.bin" + line + "data map.bin" + line},
        {"lower-case escape", head + "file a%c3%a9" + line},
        {"escape of a plain letter", head + "file %41" + line},
        {"raw byte above 0x7F", head + "file caf\xc3\xa9" + line},
        {"cut escape", head + "file a%2" + line},
        {"parent directory", head + "file Data/../x" + line},
        {"dot directory", head + "file ./x" + line},
        {"absolute path", head + "file /etc/x" + line},
        {"empty part", head + "file Data//x" + line},
        {"drive letter", head + "file C:x" + line},
        {"backslash", head + "file Data\\x" + line},
        {"encoded line feed", head + "file a%0Ab" + line},
        {"encoded delete", head + "file a%7F" + line},
        {"trailing dot", head + "file x." + line},
        {"trailing space", head + "file x%20" + line},
        {"device name", head + "file Data/nul.txt" + line},
        {"data name with a separator", head + "data a/b" + line},
        {"data name dot dot", head + "data .." + line},
        {"leading zero size", head + "file a 01 " + zero + "\n"},
        {"negative size", head + "file a -1 " + zero + "\n"},
        {"19-digit size", head + "file a 1000000000000000000 " + zero + "\n"},
        {"upper-case digest", head + "file a 1 " + std::string(64, 'A') + "\n"},
        {"short digest", head + "file a 1 " + zero.substr(1) + "\n"},
        {"extra field", head + "file a 1 " + zero + " x\n"},
        {"double space", head + "file a  1 " + zero + "\n"},
        {"CRLF", "kr-release-manifest 1\npackage Data\r\nrelease 3\r\n"},
        {"blank line", head + "\n"},
        {"unknown keyword", head + "link a" + line},
        {"release 0", "kr-release-manifest 1\npackage Data\nrelease 0\n"},
        {"no release", "kr-release-manifest 1\npackage Data\n"},
        {"package with a dot", "kr-release-manifest 1\npackage Data.x\nrelease 3\n"},
        {"lines swapped", "kr-release-manifest 1\nrelease 3\npackage Data\n"},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(KrManifestResult::Malformed, ReadText(SignBody(c.body))) << c.what;
        CKrReleaseManifest m;
        EXPECT_EQ(KrManifestResult::Malformed, m.ParseUnverified(c.body.data(), c.body.size())) << c.what;
    }
}

TEST_F(ReleaseManifestTest, WriterTakesOnlyWhatTheReaderWould)
{
    CKrReleaseManifest m;
    KrSha256 d = Digest("x");
    EXPECT_FALSE(m.SetRelease(0));
    EXPECT_FALSE(m.SetRelease(CKrReleaseManifest::kMaxNumber + 1));
    EXPECT_FALSE(m.SetPackage("Da.ta"));
    EXPECT_FALSE(m.SetPackage(""));
    for (const char* name : {"", "../x", "Data/../x", "/x", "a\\b", "a:b", "x/", "COM1", "lpt9.log", "a\tb", "a."})
        EXPECT_FALSE(m.AddFile(name, 1, d)) << name;
    EXPECT_FALSE(m.AddFile("a", CKrReleaseManifest::kMaxNumber + 1, d));
    EXPECT_FALSE(m.AddFile(std::string(CKrReleaseManifest::kMaxNameBytes + 1, 'n'), 1, d));
    EXPECT_TRUE(m.AddFile(std::string(CKrReleaseManifest::kMaxNameBytes, 'n'), 1, d));
    EXPECT_TRUE(m.AddFile("COM10", 1, d)) << "only COM1..COM9 are devices";
    EXPECT_TRUE(m.AddFile("a", 1, d));
    EXPECT_FALSE(m.AddFile("a", 2, d)) << "duplicate";
    EXPECT_FALSE(m.AddData("a/b", 1, d));
    EXPECT_TRUE(m.AddData("Readme.TXT", 1, d));
    EXPECT_FALSE(m.AddData("readme.txt", 1, d)) << "one file on Windows";
    EXPECT_EQ(1u, m.Data().size());

    std::string deep;
    for (size_t i = 0; i < CKrReleaseManifest::kMaxPathDepth; ++i)
        deep += "d/";
    EXPECT_TRUE(m.AddFile(deep.substr(0, deep.size() - 1), 1, d));
    EXPECT_FALSE(m.AddFile(deep + "x", 1, d)) << "deeper than kMaxPathDepth";

    std::string decoded;
    for (const char* text : {"a%25", "%C3%A9", "a%20b"})
    {
        ASSERT_TRUE(CKrReleaseManifest::DecodeName(text, &decoded)) << text;
        EXPECT_EQ(text, CKrReleaseManifest::EncodeName(decoded));
    }
}

TEST(ReleaseFileCheckTest, FilesAreJudgedBySizeThenByHash)
{
    TempDir dir;
    const std::string content = "level data of five";
    WriteWholeFile(dir.Path() + "level.map", content);
    KrManifestEntry entry{content.size(), Digest(content)};
    EXPECT_EQ(KrFileCheck::Match, CheckFile(dir.Path() + "level.map", entry));

    // Same size, same time, one byte changed in place: only the hash can tell.
    std::string changed = content;
    changed[7] ^= 0x01;
    WriteWholeFile(dir.Path() + "level.map", changed);
    EXPECT_EQ(KrFileCheck::HashDiffers, CheckFile(dir.Path() + "level.map", entry));
    WriteWholeFile(dir.Path() + "level.map", content + "!");
    EXPECT_EQ(KrFileCheck::SizeDiffers, CheckFile(dir.Path() + "level.map", entry));
    EXPECT_EQ(KrFileCheck::Missing, CheckFile(dir.Path() + "none.map", entry));
    EXPECT_EQ(KrFileCheck::Missing, CheckFile(dir.Path(), entry)) << "a directory";
    WriteWholeFile(dir.Path() + "level.map", content);
    std::atomic<bool> stopped{false};
    EXPECT_EQ(KrFileCheck::Cancelled, CheckFile(dir.Path() + "level.map", entry, &stopped));
}

} // namespace
