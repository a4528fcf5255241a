// The install-helper library as an installer host uses it: loaded with LoadLibraryA from this
// program's directory, every export found by its plain name. The scenario runs the test copy of
// the library against the launcher server role and nginx that tests/wine/run.sh started.
#include "installhelper/helper_logic.h"
#include "installhelper/kelvane_install_helper.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"
#include "tests/wine/tree_compare.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace
{

using IntExport = KrInstallHelperInstallPluginFn;
using TextExport = KrInstallHelperGetInstallDirectoryFn;

#define KR_EXPORT_NAME(name, result) #name,
const std::set<std::string> kExports = {KR_INSTALL_HELPER_EXPORTS(KR_EXPORT_NAME)};
#undef KR_EXPORT_NAME

std::string ProgramDir()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

class Library
{
public:
    explicit Library(const std::string& name) : m_module(LoadLibraryA((ProgramDir() + name).c_str())) {}
    ~Library()
    {
        if (m_module)
            FreeLibrary(m_module);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    HMODULE Module() const { return m_module; }
    int Call(const char* name) const
    {
        auto fn = reinterpret_cast<IntExport>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
        return fn ? fn() : -1000;
    }
    std::string Directory() const
    {
        auto fn = reinterpret_cast<TextExport>(
            reinterpret_cast<void*>(GetProcAddress(m_module, "GetInstallDirectory")));
        const char* text = fn ? fn() : nullptr;
        return text ? text : "<null>";
    }

private:
    HMODULE m_module;
};

// The names in the export directory of a loaded module.
std::set<std::string> ExportedNames(HMODULE module)
{
    auto base = reinterpret_cast<const unsigned char*>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::set<std::string> names;
    if (dir.VirtualAddress == 0)
        return names;
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.insert(reinterpret_cast<const char*>(base + nameRvas[i]));
    return names;
}

bool IsDir(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

using kr::test::MissingOrDifferent;
using kr::test::Slurp;

// Polls one status export until it gives 100 or a negative number; 100 must not come early.
int FinalStatus(const Library& lib, const char* status, int timeoutMs, bool* outOfRange)
{
    int value = 0;
    for (int waited = 0; waited < timeoutMs; waited += 50)
    {
        value = lib.Call(status);
        if (value > 100 || value < -2)
            *outOfRange = true;
        if (value < 0 || value == 100)
            return value;
        Sleep(50);
    }
    return value;
}

} // namespace

TEST(HelperDll, ExportsExactlyTheTenPlainNames)
{
    Library lib("KelvaneInstallHelper.dll");
    ASSERT_NE(nullptr, lib.Module()) << "error " << GetLastError();
    EXPECT_EQ(kExports, ExportedNames(lib.Module()));
    for (const std::string& name : kExports)
        EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(lib.Module(), name.c_str()))) << name;
    EXPECT_EQ(nullptr, reinterpret_cast<void*>(GetProcAddress(lib.Module(), "InstallPlugin@0")));
}

TEST(HelperDll, IdleCallsDirectoriesAndUninstall)
{
    Library lib("KelvaneInstallHelper.dll");
    ASSERT_NE(nullptr, lib.Module());
    EXPECT_EQ(0, lib.Call("GetInstallPluginStatus"));
    EXPECT_EQ(0, lib.Call("GetInstallGameStatus"));
    EXPECT_EQ(1, lib.Call("EndInstall"));
    EXPECT_EQ(1, lib.Call("EndInstallPlugin"));
    EXPECT_EQ(1, lib.Call("EndInstallGame"));

    HMODULE d3dx = LoadLibraryA("d3dx9_36.dll");
    EXPECT_EQ(d3dx ? 1 : 0, lib.Call("IsDirectXInstalled"));
    if (d3dx)
        FreeLibrary(d3dx);

    std::string root = lib.Directory();
    ASSERT_GT(root.size(), 16u);
    EXPECT_EQ("\\QuorvaleOnline\\", root.substr(root.size() - 16));
    EXPECT_TRUE(IsDir(root + "Data"));
    EXPECT_EQ(0, lib.Call("Uninstall"));
    EXPECT_FALSE(IsDir(root));
}

TEST(HelperDll, InstallsPluginAndGameFromTheServers)
{
    std::string server = kr::test::Env("KR_TEST_HELPER_LAUNCHER_SERVER");
    std::string bare = kr::test::Env("KR_TEST_HELPER_BARE_SERVER");
    std::string pluginImage = kr::test::Env("KR_TEST_PLUGIN_IMAGE");
    std::string image = kr::test::Env("KR_TEST_RELEASE_IMAGE");
    std::string www = kr::test::Env("KR_TEST_RELEASE_WWW");
    if (server.empty() || bare.empty() || pluginImage.empty() || image.empty())
        GTEST_SKIP() << "needs the servers of tests/wine/run.sh";

    {
        Library lib("KelvaneInstallHelperTest.dll");
        ASSERT_NE(nullptr, lib.Module());
        lib.Call("Uninstall"); // a clean start
        ASSERT_EQ(1, lib.Call("InstallPlugin"));
        ASSERT_EQ(1, lib.Call("InstallGame"));
        bool outOfRange = false;
        EXPECT_EQ(100, FinalStatus(lib, "GetInstallPluginStatus", 120000, &outOfRange));
        EXPECT_EQ(100, FinalStatus(lib, "GetInstallGameStatus", 120000, &outOfRange));
        EXPECT_FALSE(outOfRange);

        fs::path root = lib.Directory();
        EXPECT_EQ(std::vector<std::string>(),
                  MissingOrDifferent(fs::path("Z:" + image) / "Data", root / "Data"));
        EXPECT_EQ(std::vector<std::string>(),
                  MissingOrDifferent(fs::path("Z:" + pluginImage) / "Data", root / "Data"));
        EXPECT_EQ(Slurp(fs::path("Z:" + www) / "KelvaneRuntimeBrowserDLL.krzi"),
                  Slurp(root / "KelvaneRuntimeBrowserDLL.krzi"));
        EXPECT_TRUE(fs::exists(root / "KelvaneRuntimeMMO.exe")); // extracted in place

        EXPECT_EQ(1, lib.Call("EndInstallPlugin"));
        EXPECT_EQ(1, lib.Call("EndInstallGame"));
        EXPECT_EQ(0, lib.Call("GetInstallPluginStatus"));
        EXPECT_EQ(0, lib.Call("GetInstallGameStatus"));
        EXPECT_EQ(0, lib.Call("Uninstall"));
        EXPECT_FALSE(fs::exists(root));
    }

    // The test copy reads its server when it is loaded: a server whose answer lacks the setting.
    ASSERT_EQ(0, _putenv(("KR_TEST_HELPER_LAUNCHER_SERVER=" + bare).c_str()));
    {
        Library lib("KelvaneInstallHelperTest.dll");
        ASSERT_EQ(1, lib.Call("InstallPlugin"));
        bool outOfRange = false;
        EXPECT_EQ(-1, FinalStatus(lib, "GetInstallPluginStatus", 60000, &outOfRange));
        EXPECT_EQ(1, lib.Call("EndInstall"));
    }

    // No server at all: no engine.
    ASSERT_EQ(0, _putenv("KR_TEST_HELPER_LAUNCHER_SERVER=http://127.0.0.1:1"));
    {
        Library lib("KelvaneInstallHelperTest.dll");
        EXPECT_EQ(0, lib.Call("InstallPlugin"));
        EXPECT_EQ(0, lib.Call("GetInstallPluginStatus"));
        EXPECT_EQ(0, lib.Call("Uninstall"));
    }
    _putenv(("KR_TEST_HELPER_LAUNCHER_SERVER=" + server).c_str());
}

TEST(HelperDll, TreeRemovalLeavesTheTargetsOfDirectoryLinks)
{
    kr::test::TempDir temp, outside;
    std::string root = temp.Path() + "QuorvaleOnline";
    ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((outside.Path() + "keep").c_str(), nullptr));
    std::ofstream(outside.Path() + "keep\\precious.txt") << "x";
    if (!CreateSymbolicLinkA((root + "\\link").c_str(), (outside.Path() + "keep").c_str(),
                             SYMBOLIC_LINK_FLAG_DIRECTORY))
        GTEST_SKIP() << "no directory links here (error " << GetLastError() << ")";
    EXPECT_TRUE(kr::helper::RemoveDirectoryTree(root));
    EXPECT_FALSE(IsDir(root));
    EXPECT_TRUE(fs::exists(outside.Path() + "keep\\precious.txt"));
}
