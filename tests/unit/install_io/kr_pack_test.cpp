// The release packer end to end: a generated image in, packages, per-file zips and the cache out,
// read back with the engine's own readers.
#include "install/file.h"
#include "install/path_utils.h"
#include "install/zip_file.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"
#include "tests/unit/install_io/kr_pack_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using kr::test::Collect;
using kr::test::Noise;
using kr::test::Pack;
using kr::test::ReadWholeFile;
using kr::test::TempDir;
using kr::test::WriteWholeFile;

namespace {

size_t CountEntries(const std::string& dir)
{
    std::vector<kr::os::FileInfo> entries;
    kr::os::ListDirectory(dir, entries);
    return entries.size() - 2; // "." and ".."
}

struct CacheRecord
{
    std::string name;
    uint64_t lastWrite = 0;
    uint32_t order = 0, size = 0, reserved = 0, downloadSize = 0;
};

bool ReadCache(const std::string& path, uint32_t* version, std::vector<CacheRecord>& records)
{
    CKrFile file;
    uint32_t header[2];
    if (!file.Open(path, "rb") || !file.SerializeInt32(header, 2))
        return false;
    *version = header[0];
    for (uint32_t i = 0; i < header[1]; ++i)
    {
        CacheRecord r;
        uint32_t fields[6];
        if (!file.SerializeString(r.name, 255) || !file.SerializeInt32(fields, 6))
            return false;
        r.lastWrite = fields[0] | (static_cast<uint64_t>(fields[1]) << 32);
        r.order = fields[2];
        r.size = fields[3];
        r.reserved = fields[4];
        r.downloadSize = fields[5];
        records.push_back(r);
    }
    char extra;
    return file.Read(&extra, 1, 1) == 0; // nothing after the last record
}

class KrPackTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_image = m_dir.Path() + "image/";
        // 600 KiB files against 1 MiB packages: several packages; the 1.5 MiB one stands alone.
        WriteWholeFile(m_image + "QuorvaleOnlineLauncher.exe", Noise(1000, 1));
        WriteWholeFile(m_image + "Data/alpha.pak", Noise(600 * 1024, 2));
        WriteWholeFile(m_image + "Data/beta.pak", std::string(600 * 1024, 'b'));
        WriteWholeFile(m_image + "Data/huge.pak", Noise(1536 * 1024, 3));
        WriteWholeFile(m_image + "Data/maps/level one.map", Noise(5000, 4));
        WriteWholeFile(m_image + "Data/maps/deep/tiles.bin", Noise(70000, 5));
        WriteWholeFile(m_image + "Data/empty.txt", "");
        ASSERT_TRUE(kr::os::MakeDirectories(m_image + "Data/saves/none"));
        // A time that is not on a 2-second step.
        uint64_t odd = UnixTimeToFileTime(1700000001, 4567);
        ASSERT_TRUE(kr::os::SetFileTimes(m_image + "Data/alpha.pak", nullptr, nullptr, &odd));
    }

    TempDir m_dir;
    std::string m_image;
};

TEST_F(KrPackTest, PackagesRebuildTheImageAndTheCacheDescribesData)
{
    std::string out = m_dir.Path() + "out/";
    // A package left from a bigger release must not survive.
    WriteWholeFile(out + "Game_4.zip", "stale");
    kr::test::PackResult r = Pack(m_dir, "'" + m_image + "' '" + out + "' --package Game --package-size 1 --jobs 2");
    ASSERT_EQ(0, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("Game.cch")) << r.output;

    // Fresh install: every package extracted the engine's way, into the installation directory.
    std::string install = m_dir.Path() + "install/";
    ASSERT_TRUE(kr::os::MakeDirectory(install));
    size_t packages = 0;
    for (;; ++packages)
    {
        std::string name = packages == 0 ? "Game.zip" : "Game_" + std::to_string(packages) + ".zip";
        if (!FileExists(out + name))
            break;
        WriteWholeFile(install + name, ReadWholeFile(out + name));
        CKrZipFile zip;
        ASSERT_TRUE(zip.Open(install + name)) << name;
        ASSERT_TRUE(zip.ExtractAll(nullptr, true)) << name;
        zip.Close();
        kr::os::RemoveFile(install + name);
    }
    // Sorted: QuorvaleOnlineLauncher.exe, alpha, beta | empty, huge | maps... -> four packages.
    EXPECT_EQ(4u, packages);
    EXPECT_FALSE(FileExists(out + "Game_4.zip")) << "the engine would take it for the next package";
    std::map<std::string, std::string> want, got;
    Collect(m_image, "", want);
    Collect(install, "", got);
    EXPECT_EQ(want, got);

    uint32_t version = 0;
    std::vector<CacheRecord> records;
    ASSERT_TRUE(ReadCache(out + "Game.cch", &version, records));
    EXPECT_EQ(258u, version);
    std::vector<std::string> names;
    for (const CacheRecord& rec : records)
        names.push_back(rec.name);
    EXPECT_EQ((std::vector<std::string>{"alpha.pak", "beta.pak", "empty.txt", "huge.pak", "tiles.bin",
                                        "level one.map"}),
              names);

    // Update: each file's zip, extracted into Data\ of an installation, puts the file in place
    // with a time the cache calls up to date.
    std::map<std::string, std::string> paths = {{"tiles.bin", "maps/deep/tiles.bin"},
                                                {"level one.map", "maps/level one.map"}};
    std::string update = m_dir.Path() + "update/";
    ASSERT_TRUE(kr::os::MakeDirectories(update + "Data"));
    for (size_t i = 0; i < records.size(); ++i)
    {
        const CacheRecord& rec = records[i];
        std::string inData = paths.count(rec.name) ? paths[rec.name] : rec.name;
        EXPECT_EQ(i, rec.order);
        EXPECT_EQ(0u, rec.reserved);
        uint64_t zipSize = 0, fileSize = 0, sourceTime = 0, installedTime = 0;
        std::string zipPath = update + "Data\\" + rec.name + ".zip";
        WriteWholeFile(update + "Data/" + rec.name + ".zip", ReadWholeFile(out + "Data/" + rec.name + ".zip"));
        ASSERT_TRUE(kr::os::GetFileSize(zipPath, &zipSize));
        EXPECT_EQ(zipSize, rec.downloadSize) << rec.name;
        ASSERT_TRUE(kr::os::GetFileSize(m_image + "Data/" + inData, &fileSize));
        EXPECT_EQ(fileSize, rec.size) << rec.name;
        ASSERT_TRUE(kr::os::GetFileTimes(m_image + "Data/" + inData, nullptr, nullptr, &sourceTime));
        EXPECT_EQ(sourceTime, rec.lastWrite) << rec.name;

        CKrZipFile zip;
        ASSERT_TRUE(zip.Open(zipPath));
        ASSERT_TRUE(zip.ExtractAll(nullptr, true)) << rec.name;
        EXPECT_EQ(1u, zip.GetExtractStats().filesWritten) << "one file per zip";
        zip.Close();
        EXPECT_EQ(ReadWholeFile(m_image + "Data/" + inData), ReadWholeFile(update + "Data/" + inData));
        ASSERT_TRUE(kr::os::GetFileTimes(update + "Data/" + inData, nullptr, nullptr, &installedTime));
        EXPECT_EQ(0, CompareDosTimes(installedTime, rec.lastWrite)) << rec.name;
    }
    EXPECT_EQ(records.size(), CountEntries(out + "Data"));
}

TEST_F(KrPackTest, SameInputGivesTheSameBytes)
{
    ASSERT_EQ(0, Pack(m_dir, "'" + m_image + "' '" + m_dir.Path() + "one' --package-size 1 --jobs 1").exitCode);
    ASSERT_EQ(0, Pack(m_dir, "'" + m_image + "' '" + m_dir.Path() + "two' --package-size 1 --jobs 2").exitCode);
    std::map<std::string, std::string> one, two;
    Collect(m_dir.Path() + "one/", "", one);
    Collect(m_dir.Path() + "two/", "", two);
    EXPECT_TRUE(one.count("Data.cch"));
    EXPECT_TRUE(one.count("Data.zip"));
    EXPECT_TRUE(one == two);
}

TEST_F(KrPackTest, UnusableInputIsRefusedWithExitTwo)
{
    std::string out = m_dir.Path() + "out";
    struct
    {
        const char* what;
        std::string args;
        const char* message;
    } cases[] = {
        {"no arguments", "", "IMAGE_DIR and OUT_DIR"},
        {"bad size", "'" + m_image + "' '" + out + "' --package-size 0", "--package-size"},
        {"bad name", "'" + m_image + "' '" + out + "' --package ../x", "--package"},
        {"output inside the image", "'" + m_image + "' '" + m_image + "Data/out'", "inside IMAGE_DIR"},
        {"missing image", "'" + m_dir.Path() + "nothing' '" + out + "'", "not a directory"},
    };
    for (const auto& c : cases)
    {
        kr::test::PackResult r = Pack(m_dir, c.args);
        EXPECT_EQ(2, r.exitCode) << c.what << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find(c.message)) << c.what << ": " << r.output;
    }

    struct
    {
        const char* what;
        const char* file;
        const char* message;
    } images[] = {
        {"same bare name", "Data/other/ALPHA.pak", "same file name"},
        {"name Windows cannot hold", "Data/what?.txt", "not usable on Windows"},
        {"backslash in a name", "Data/back\\slash", "not usable on Windows"},
        // The engine could not tell these apart.
        {"a name beside its per-file zip's name", "Data/maps/Beta.pak.zip", "per-file zip"},
        {"a name of Data/ outside it too", "tools/alpha.pak", "also stands outside"},
        {"a package's name", "Data_3.zip", "engine keeps"},
        {"a marker's name", "data.install", "engine keeps"},
        {"the file list's name", "Data.cch", "engine keeps"},
        {"the signed manifest's name", "Data.manifest", "engine keeps"},
        {"the installed release number's name", "DATA.release", "engine keeps"},
        {"the staging folder's name", "Data.download/x", "engine keeps"},
    };
    for (const auto& c : images)
    {
        WriteWholeFile(m_image + c.file, "x");
        kr::test::PackResult r = Pack(m_dir, "'" + m_image + "' '" + out + "'");
        EXPECT_EQ(2, r.exitCode) << c.what << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find(c.message)) << c.what << ": " << r.output;
        std::remove((m_image + c.file).c_str());
        std::string folder = std::string(c.file).substr(0, std::string(c.file).find('/'));
        if (folder != "Data" && folder != c.file)
            kr::os::RemoveEmptyDirectory(m_image + folder);
    }
    // A 4 GiB file anywhere (sparse, so it costs nothing) would make a package the engine cannot
    // hold; found before anything is read.
    {
        std::string big = m_image + "movies/intro.bik";
        kr::os::MakeDirectories(m_image + "movies");
        kr::os::UniqueFile file = kr::os::OpenUniqueFile(big, "wb");
        ASSERT_TRUE(file);
        ASSERT_EQ(0, kr::os::SeekFile64(file.get(), (4ll << 30) - 1, SEEK_SET));
        ASSERT_EQ(1u, std::fwrite("", 1, 1, file.get()));
        kr::os::CloseUniqueFile(file);
        kr::test::PackResult r = Pack(m_dir, "'" + m_image + "' '" + out + "'");
        EXPECT_EQ(2, r.exitCode) << r.output;
        EXPECT_NE(std::string::npos, r.output.find("4 GiB")) << r.output;
        std::remove(big.c_str());
        kr::os::RemoveEmptyDirectory(m_image + "movies");
    }
    EXPECT_EQ(2, Pack(m_dir, "'" + m_image + "' '" + out + "' --package-size 4096").exitCode);
    std::rename((m_image + "Data").c_str(), (m_image + "Other").c_str());
    kr::test::PackResult r = Pack(m_dir, "'" + m_image + "' '" + out + "'");
    EXPECT_EQ(2, r.exitCode);
    EXPECT_NE(std::string::npos, r.output.find("Data: missing")) << r.output;
    EXPECT_FALSE(kr::os::IsDirectory(out)) << "nothing is written for refused input";
}

} // namespace
