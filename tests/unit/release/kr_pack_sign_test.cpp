// kr-pack --keygen and --sign end to end: the manifest verifies with the printed key and lists every
// published file and every file of Data/ with its real size and SHA-256.
#include "install/release_manifest.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"
#include "tests/unit/install_io/kr_pack_run.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <string>

using kr::test::Collect;
using kr::test::Noise;
using kr::test::Pack;
using kr::test::PackResult;
using kr::test::ReadWholeFile;
using kr::test::TempDir;
using kr::test::WriteWholeFile;

namespace {

std::string Quote(const std::string& path)
{
    return "'" + path + "'";
}

class KrPackSignTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_image = m_dir.Path() + "image/";
        m_out = m_dir.Path() + "out/";
        m_key = m_dir.Path() + "release.key";
        WriteWholeFile(m_image + "QuorvaleOnlineLauncher.exe", Noise(3000, 1));
        WriteWholeFile(m_image + "Data/alpha.pak", Noise(700 * 1024, 2));
        WriteWholeFile(m_image + "Data/beta.pak", Noise(400 * 1024, 6));
        WriteWholeFile(m_image + "Data/maps/level one.map", Noise(5000, 3));
        WriteWholeFile(m_image + "Data/maps/caf\xc3\xa9 50%.bin", "caf\xc3\xa9");
        WriteWholeFile(m_image + "Data/empty.txt", "");
        WriteWholeFile(m_dir.Path() + "items/Splash.zip", Noise(2000, 4));
        WriteWholeFile(m_dir.Path() + "items/ErrorPage.zip", Noise(100, 5));
    }

    // The public key kr-pack printed.
    KrPublicKey KeyGen(const std::string& path)
    {
        PackResult r = Pack(m_dir, "--keygen " + Quote(path));
        EXPECT_EQ(0, r.exitCode) << r.output;
        KrPublicKey key{};
        EXPECT_TRUE(FromHex(r.output.substr(0, r.output.find('\n')), &key)) << r.output;
        return key;
    }

    PackResult Sign(const std::string& key, const std::string& extra = "")
    {
        return Pack(m_dir, Quote(m_image) + " " + Quote(m_out) + " --package-size 1 --sign " + Quote(key) + " " +
                               extra);
    }

    uint64_t ReleaseIn(const KrPublicKey& key)
    {
        CKrReleaseManifest manifest;
        EXPECT_EQ(KrManifestResult::Ok, manifest.Load(m_out + "Data.manifest", key));
        return manifest.Release();
    }

    TempDir m_dir;
    std::string m_image, m_out, m_key;
};

TEST_F(KrPackSignTest, KeygenWritesAnOwnerOnlyKeyAndNeverOverwritesOne)
{
    KrPublicKey key = KeyGen(m_key);
    struct stat info;
    ASSERT_EQ(0, ::stat(m_key.c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777);
    const std::string secret = ReadWholeFile(m_key);

    PackResult again = Pack(m_dir, "--keygen " + Quote(m_key));
    EXPECT_EQ(2, again.exitCode) << again.output;
    EXPECT_EQ(secret, ReadWholeFile(m_key));
    EXPECT_NE(key, KeyGen(m_dir.Path() + "second.key")) << "every key is new";
    EXPECT_EQ(2, Pack(m_dir, "--keygen").exitCode);
    EXPECT_EQ(2, Pack(m_dir, "--keygen " + Quote(m_dir.Path() + "third.key") + " extra").exitCode);
}

TEST_F(KrPackSignTest, ManifestListsEveryPublishedAndDataFileWithItsHash)
{
    KrPublicKey key = KeyGen(m_key);
    PackResult r = Sign(m_key, "--item " + Quote(m_dir.Path() + "items/Splash.zip") + " --item " +
                                   Quote(m_dir.Path() + "items/ErrorPage.zip"));
    ASSERT_EQ(0, r.exitCode) << r.output;

    CKrReleaseManifest manifest;
    ASSERT_EQ(KrManifestResult::Ok, manifest.Load(m_out + "Data.manifest", key));
    EXPECT_EQ("Data", manifest.Package());
    EXPECT_EQ(1u, manifest.Release());

    // Everything in OUT but the manifest itself, with the bytes a client would fetch.
    std::map<std::string, std::string> out;
    Collect(m_out, "", out);
    size_t published = 0;
    for (const auto& [name, bytes] : out)
    {
        if (name.back() == '/' || name == "Data.manifest")
            continue;
        ++published;
        const KrManifestEntry* entry = manifest.FindFile(name);
        ASSERT_NE(nullptr, entry) << name;
        EXPECT_EQ(bytes.size(), entry->size) << name;
        EXPECT_EQ(Sha256Of(bytes.data(), bytes.size()), entry->sha256) << name;
    }
    EXPECT_EQ(manifest.Files().size(), published);
    EXPECT_NE(nullptr, manifest.FindFile("Data_1.zip")) << "packages after the first";
    EXPECT_NE(nullptr, manifest.FindFile("Data/caf\xc3\xa9 50%.bin.zip"));
    EXPECT_EQ(ReadWholeFile(m_dir.Path() + "items/Splash.zip"), out["Splash.zip"]) << "items are published";

    std::map<std::string, std::string> image;
    Collect(m_image + "Data/", "", image);
    size_t dataFiles = 0;
    for (const auto& [path, bytes] : image)
    {
        if (path.back() == '/')
            continue;
        ++dataFiles;
        std::string bare = path.substr(path.rfind('/') + 1);
        const KrManifestEntry* entry = manifest.FindData(bare);
        ASSERT_NE(nullptr, entry) << path;
        EXPECT_EQ(bytes.size(), entry->size) << path;
        EXPECT_EQ(Sha256Of(bytes.data(), bytes.size()), entry->sha256) << path;
    }
    EXPECT_EQ(5u, dataFiles);
    EXPECT_EQ(dataFiles, manifest.Data().size());
    EXPECT_EQ(nullptr, manifest.FindData("QuorvaleOnlineLauncher.exe")) << "only Data/ by bare name";

    // An item already published is hashed where it lies.
    WriteWholeFile(m_out + "Splash.zip", "new splash");
    ASSERT_EQ(0, Sign(m_key, "--item " + Quote(m_out + "Splash.zip")).exitCode);
    ASSERT_EQ(KrManifestResult::Ok, manifest.Load(m_out + "Data.manifest", key));
    ASSERT_NE(nullptr, manifest.FindFile("Splash.zip"));
    EXPECT_EQ(Sha256Of("new splash", 10), manifest.FindFile("Splash.zip")->sha256);
    EXPECT_EQ(nullptr, manifest.FindFile("ErrorPage.zip")) << "only the items named this time";
}

TEST_F(KrPackSignTest, ReleaseNumbersOnlyGrow)
{
    KrPublicKey key = KeyGen(m_key);
    ASSERT_EQ(0, Sign(m_key).exitCode);
    EXPECT_EQ(1u, ReleaseIn(key));
    ASSERT_EQ(0, Sign(m_key).exitCode);
    EXPECT_EQ(2u, ReleaseIn(key));
    ASSERT_EQ(0, Sign(m_key, "--release 40").exitCode);
    EXPECT_EQ(40u, ReleaseIn(key));
    ASSERT_EQ(0, Sign(m_key, "--release 40").exitCode) << "the same number may be signed again";

    PackResult lower = Sign(m_key, "--release 39");
    EXPECT_EQ(2, lower.exitCode) << lower.output;
    EXPECT_NE(std::string::npos, lower.output.find("lower than release 40")) << lower.output;
    EXPECT_EQ(40u, ReleaseIn(key));

    // A manifest this key did not sign gives no number to count from.
    KrPublicKey other = KeyGen(m_dir.Path() + "other.key");
    PackResult foreign = Sign(m_dir.Path() + "other.key");
    EXPECT_EQ(2, foreign.exitCode) << foreign.output;
    EXPECT_NE(std::string::npos, foreign.output.find("--release")) << foreign.output;
    ASSERT_EQ(0, Sign(m_dir.Path() + "other.key", "--release 3").exitCode);
    EXPECT_EQ(3u, ReleaseIn(other));
}

TEST_F(KrPackSignTest, DevelopmentKeySignsForItsPublishedHalf)
{
    std::string keys = kr::test::SourceDir() + "tools/keys/";
    KrPublicKey dev{};
    std::string pub = ReadWholeFile(keys + "dev-release.pub");
    ASSERT_TRUE(FromHex(pub.substr(0, pub.find('\n')), &dev)) << pub;
    chmod((keys + "dev-release.key").c_str(), 0600); // git checks it out readable by all
    ASSERT_EQ(0, Sign(keys + "dev-release.key").exitCode);
    EXPECT_EQ(1u, ReleaseIn(dev));
}

TEST_F(KrPackSignTest, UnusableSigningInputStopsBeforeAnythingIsWritten)
{
    KeyGen(m_key);
    WriteWholeFile(m_dir.Path() + "bad.key", "kr-release-secret-key 1\n" + std::string(128, '0') + "\n");
    std::string damaged = ReadWholeFile(m_key);
    damaged[damaged.size() - 3] = damaged[damaged.size() - 3] == '0' ? '1' : '0';
    WriteWholeFile(m_dir.Path() + "damaged.key", damaged);
    WriteWholeFile(m_dir.Path() + "items/Data.zip", "x");
    struct
    {
        const char* what;
        std::string args;
        const char* message;
    } cases[] = {
        {"missing key", "--sign " + Quote(m_dir.Path() + "none.key"), "no such key file"},
        {"not a key", "--sign " + Quote(m_dir.Path() + "items/Splash.zip"), "not a kr-pack secret key"},
        {"seed and public half disagree", "--sign " + Quote(m_dir.Path() + "bad.key"), "not a kr-pack secret key"},
        {"damaged key", "--sign " + Quote(m_dir.Path() + "damaged.key"), "not a kr-pack secret key"},
        {"missing item", "--sign " + Quote(m_key) + " --item " + Quote(m_dir.Path() + "none.zip"), "no such file"},
        {"item named like a package", "--sign " + Quote(m_key) + " --item " + Quote(m_dir.Path() + "items/Data.zip"),
         "release's own files"},
        {"release without sign", "--release 3", "belong to --sign"},
        {"release 0", "--sign " + Quote(m_key) + " --release 0", "--release"},
    };
    for (const auto& c : cases)
    {
        PackResult r = Pack(m_dir, Quote(m_image) + " " + Quote(m_out) + " " + c.args);
        EXPECT_EQ(2, r.exitCode) << c.what << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find(c.message)) << c.what << ": " << r.output;
        EXPECT_FALSE(kr::os::IsDirectory(m_out)) << c.what;
    }
}

} // namespace
