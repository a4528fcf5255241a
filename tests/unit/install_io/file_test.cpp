#include "install/file.h"
#include "install/io_interface_mem.h"
#include "install/io_interface_pak.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>

using kr::test::ReadWholeFile;
using kr::test::TempDir;
using kr::test::WriteWholeFile;

namespace {

uint32_t Word(const std::string& bytes, size_t at)
{
    uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

TEST(FileTest, WriteModeFollowsTheModeText)
{
    TempDir dir;
    std::string path = dir.Path() + "f.bin";
    struct
    {
        const char* mode;
        bool write;
    } cases[] = {{"wb", true}, {"ab", true}, {"rb", false}, {"r+", false}};
    for (const auto& c : cases)
    {
        CKrFile file;
        ASSERT_TRUE(file.Open(path, c.mode)) << c.mode;
        EXPECT_EQ(c.write, file.IsWriteMode()) << c.mode;
        EXPECT_EQ(path, file.GetFileName());
    }
    CKrFile missing;
    EXPECT_FALSE(missing.Open(dir.Path() + "none.bin", "rb"));
    EXPECT_EQ(0, missing.Close());
}

TEST(FileTest, ScrambledStringCarriesItsKeyAndReadsBack)
{
    TempDir dir;
    std::string path = dir.Path() + "s.bin";
    char text[] = "seventeen bytes!!";
    ASSERT_EQ(17u, std::strlen(text));
    {
        CKrFile file;
        file.SetScramble(true);
        ASSERT_TRUE(file.Open(path, "wb"));
        ASSERT_TRUE(file.SerializeString(text, sizeof text));
    }
    EXPECT_STREQ("seventeen bytes!!", text) << "the caller's text must stay as it was";
    std::string stored = ReadWholeFile(path);
    ASSERT_EQ(4u + 17u, stored.size());
    EXPECT_EQ(0x02000011u, Word(stored, 0));
    for (size_t i = 0; i < 17; ++i)
        EXPECT_EQ(static_cast<uint8_t>(text[i] - 2), static_cast<uint8_t>(stored[4 + i]));

    CKrFile reader;
    ASSERT_TRUE(reader.Open(path, "rb"));
    char back[18];
    ASSERT_TRUE(reader.SerializeString(back, sizeof back));
    EXPECT_STREQ(text, back);
}

TEST(FileTest, EmptyStringIsOneZeroWordWhateverTheOptions)
{
    TempDir dir;
    for (int options = 0; options < 8; ++options)
    {
        std::string path = dir.Path() + "e" + std::to_string(options);
        {
            CKrFile file;
            file.SetByteSwap(options & 1);
            file.SetAlign4(options & 2);
            file.SetScramble(options & 4);
            ASSERT_TRUE(file.Open(path, "wb"));
            std::string empty;
            ASSERT_TRUE(file.SerializeString(empty));
        }
        EXPECT_EQ(std::string(4, '\0'), ReadWholeFile(path)) << "options " << options;
    }
}

TEST(FileTest, ByteSwapAndPaddingShapeTheStoredBytes)
{
    TempDir dir;
    std::string path = dir.Path() + "o.bin";
    {
        CKrFile file;
        file.SetByteSwap(true);
        file.SetAlign4(true);
        ASSERT_TRUE(file.Open(path, "wb"));
        uint32_t values[2] = {0x01020304u, 0xA0B0C0D0u};
        ASSERT_TRUE(file.SerializeInt32(values, 2));
        EXPECT_EQ(0x01020304u, values[0]) << "writing must not swap the caller's values";
        std::string abc = "abc";
        ASSERT_TRUE(file.SerializeString(abc));
        char block[5] = {'v', 'w', 'x', 'y', 'z'};
        ASSERT_TRUE(file.SerializeBytes(block, 5));
    }
    std::string stored = ReadWholeFile(path);
    std::string expected("\x01\x02\x03\x04\xA0\xB0\xC0\xD0"
                         "\x00\x00\x00\x03"
                         "abc\x00"
                         "vwxyz\x00\x00\x00",
                         24);
    EXPECT_EQ(expected, stored);

    CKrFile reader;
    reader.SetByteSwap(true);
    ASSERT_TRUE(reader.Open(path, "rb"));
    uint32_t back[2] = {};
    ASSERT_TRUE(reader.SerializeInt32(back, 2));
    EXPECT_EQ(0x01020304u, back[0]);
    EXPECT_EQ(0xA0B0C0D0u, back[1]);
}

TEST(FileTest, OversizedOrTruncatedStoredStringsAreRefused)
{
    TempDir dir;
    std::string path = dir.Path() + "bad.bin";
    // Length word 0x06000005: 5 bytes stored 6 less; then a word claiming 100 bytes with only 3 left.
    std::string bytes("\x05\x00\x00\x06", 4);
    for (char c : std::string("hello"))
        bytes += static_cast<char>(c - 6);
    bytes += std::string("\x64\x00\x00\x00xyz", 7);
    WriteWholeFile(path, bytes);

    CKrFile small;
    ASSERT_TRUE(small.Open(path, "rb"));
    char tiny[5] = {'#', '#', '#', '#', '#'};
    EXPECT_FALSE(small.SerializeString(tiny, sizeof tiny)) << "5 bytes plus the zero do not fit in 5";
    EXPECT_EQ('\0', tiny[0]);
    EXPECT_EQ('#', tiny[1]) << "nothing beyond the empty result may be written";

    CKrFile file;
    ASSERT_TRUE(file.Open(path, "rb"));
    std::string text;
    ASSERT_TRUE(file.SerializeString(text));
    EXPECT_EQ("hello", text);
    EXPECT_FALSE(file.SerializeString(text)) << "a string cut short by the end of the file";
    uint32_t word = 0;
    EXPECT_FALSE(file.SerializeInt32(&word)) << "nothing left to read";
}

TEST(FileTest, LoadToMemoryHoldsTheWholeFileAndAZeroAfterIt)
{
    TempDir dir;
    std::string path = dir.Path() + "m.bin";
    WriteWholeFile(path, std::string("\x07\x00\x00\x00payload", 11));
    CKrFile file;
    EXPECT_FALSE(file.LoadToMemory(dir.Path() + "missing"));
    ASSERT_TRUE(file.LoadToMemory(path));
    EXPECT_EQ(CKrIOInterfaceMem::Instance(), file.GetIOInterface());
    EXPECT_EQ(11, file.GetSize());
    auto* base = static_cast<const char*>(file.GetIOInterface()->GetBasePointer(file.GetHandle()));
    ASSERT_NE(nullptr, base);
    EXPECT_EQ(0, reinterpret_cast<uintptr_t>(base) % 64);
    EXPECT_EQ('\0', base[11]);
    std::string text;
    ASSERT_TRUE(file.SerializeString(text));
    EXPECT_EQ("payload", text);
    EXPECT_TRUE(file.IsEof());
    file.Close();
    // After the block is gone the file reads from disk again.
    ASSERT_TRUE(file.Open(path, "rb"));
    EXPECT_EQ(11, file.GetSize());
}

TEST(MemoryInterfaceTest, TransfersAreClampedToTheBlock)
{
    CKrIOInterfaceMem* mem = CKrIOInterfaceMem::Instance();
    EXPECT_EQ(nullptr, mem->Open("anything", "rb"));
    KrMemBlock* block = CKrIOInterfaceMem::CreateBlock(8, false);
    ASSERT_NE(nullptr, block);
    std::memcpy(block->base, "ABCDEFGH", 8);

    char out[16] = {};
    EXPECT_EQ(6, mem->Read(out, 2, 3, block)) << "byte counts, not element counts";
    EXPECT_EQ(2, mem->Read(out + 6, 4, 4, block)) << "only what is left";
    EXPECT_EQ("ABCDEFGH", std::string(out));
    EXPECT_TRUE(mem->IsEof(block));
    EXPECT_EQ(0, mem->Read(out, 1, 1, block));

    EXPECT_EQ(-1, mem->Seek(block, 1, 2)) << "past the end is refused";
    EXPECT_EQ(-1, mem->Seek(block, -1, 0));
    EXPECT_EQ(8, mem->Tell(block)) << "a refused seek keeps the position";
    EXPECT_EQ(0, mem->Seek(block, -3, 2));
    EXPECT_EQ(3, mem->Write("xyzw", 1, 4, block));
    EXPECT_EQ('\0', reinterpret_cast<char*>(block->base)[8]) << "the guard byte stays";
    EXPECT_EQ(8, mem->GetSize(block));

    block->dryRun = 1;
    mem->Seek(block, 0, 0);
    EXPECT_EQ(4, mem->Read(out, 1, 4, block));
    EXPECT_EQ(4, mem->Tell(block));
    EXPECT_EQ('A', out[0]) << "a dry run copies nothing";
    EXPECT_EQ(0, mem->Close(block));
}

TEST(MemoryInterfaceTest, SizeOfABlockBeingWrittenIsTheHighestWrite)
{
    CKrIOInterfaceMem* mem = CKrIOInterfaceMem::Instance();
    KrMemBlock* block = CKrIOInterfaceMem::CreateBlock(64, true);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(0, mem->GetSize(block));
    mem->Write("0123456789", 1, 10, block);
    mem->Seek(block, 4, 0);
    mem->Write("ab", 1, 2, block);
    EXPECT_EQ(10, mem->GetSize(block));
    EXPECT_EQ(6, mem->Tell(block));
    EXPECT_EQ("0123ab6789", std::string(static_cast<char*>(mem->GetBasePointer(block)), 10));
    EXPECT_EQ(static_cast<uint8_t*>(mem->GetBasePointer(block)) + 6, mem->GetCurrentPointer(block));
    block->writing = 0;
    EXPECT_EQ(64, mem->GetSize(block));
    mem->Close(block);
}

class PakInterfaceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_path = m_dir.Path() + "pack.bin";
        WriteWholeFile(m_path, "HEADERfirst-entrySECOND");
        m_pak.reset(new CKrIOInterfacePak(nullptr, m_path));
        ASSERT_TRUE(m_pak->AddEntry("Maps\\First.txt", 6, 11));
        ASSERT_TRUE(m_pak->AddEntry("second", 17, 6));
        ASSERT_FALSE(m_pak->AddEntry("SECOND", 0, 1)) << "names are unique ignoring case";
    }

    TempDir m_dir;
    std::string m_path;
    std::unique_ptr<CKrIOInterfacePak> m_pak;
};

TEST_F(PakInterfaceTest, LooksUpNamesAndReadsWithinTheEntry)
{
    EXPECT_EQ(nullptr, m_pak->Open("missing", "rb"));
    EXPECT_EQ(-1, m_pak->GetEntrySize("missing"));
    EXPECT_EQ(11, m_pak->GetEntrySize("MAPS\\FIRST.TXT"));
    EXPECT_EQ(-1, m_pak->GetEntrySize("maps/first.txt")) << "only Open maps '/' to '\\'";
    EXPECT_EQ(17, m_pak->GetEntryOffset("Second"));

    void* h = m_pak->Open("maps/FIRST.txt", "rb");
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(6, m_pak->GetHandleOffset(h));
    EXPECT_EQ(11, m_pak->GetSize(h));
    EXPECT_EQ(0, m_pak->Tell(h));
    char buffer[32] = {};
    EXPECT_EQ(11, m_pak->Read(buffer, 1, 30, h)) << "a read stops at the entry's end";
    EXPECT_EQ("first-entry", std::string(buffer));
    EXPECT_TRUE(m_pak->IsEof(h));
    EXPECT_EQ(0, m_pak->Seek(h, -5, 2));
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(5, m_pak->Read(buffer, 1, 10, h));
    EXPECT_EQ("entry", std::string(buffer));
    EXPECT_EQ(-1, m_pak->Seek(h, 1, 2)) << "no seeking into the neighbour";
    EXPECT_EQ(0, m_pak->Close(h));

    // The kept handle serves the next entry; an independent one is opened beside it.
    void* a = m_pak->Open("second", "rb");
    void* b = m_pak->OpenNew("second", "rb");
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    char one[8] = {}, two[8] = {};
    EXPECT_EQ(3, m_pak->Read(one, 1, 3, a));
    EXPECT_EQ(6, m_pak->Read(two, 1, 8, b));
    EXPECT_EQ("SEC", std::string(one));
    EXPECT_EQ("SECOND", std::string(two));
    m_pak->Close(a);
    m_pak->Close(b);
}

TEST_F(PakInterfaceTest, WriteModeOpensThePathItself)
{
    std::string out = m_dir.Path() + "out.bin";
    void* h = m_pak->Open(out, "wb");
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(0, m_pak->GetHandleOffset(h));
    EXPECT_EQ(4, m_pak->Write("data", 1, 4, h));
    EXPECT_EQ(4, m_pak->GetSize(h));
    EXPECT_EQ(0, m_pak->Close(h));
    EXPECT_EQ("data", ReadWholeFile(out));
}

TEST_F(PakInterfaceTest, CKrFileReadsARecordFromAnEntry)
{
    WriteWholeFile(m_path, std::string("xx\x03\x00\x00\x00" "abcyy", 11));
    CKrIOInterfacePak pak(nullptr, m_path);
    ASSERT_TRUE(pak.AddEntry("rec", 2, 7));
    CKrFile file;
    file.SetIOInterface(&pak);
    ASSERT_TRUE(file.Open("REC", "rb"));
    std::string text;
    ASSERT_TRUE(file.SerializeString(text));
    EXPECT_EQ("abc", text);
    uint32_t word = 0;
    EXPECT_FALSE(file.SerializeInt32(&word)) << "the bytes after the entry are not part of it";
}

} // namespace
