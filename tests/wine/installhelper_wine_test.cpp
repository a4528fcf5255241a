// The install-helper library as an installer host uses it: loaded with LoadLibraryA from this
// program's directory, every export found by its plain name. The scenario runs the test copy of
// the library against the launcher server role and nginx that tests/wine/run.sh started.
#include "installhelper/helper_logic.h"
#include "installhelper/kelvane_install_helper.h"
#include "installhelper/signed_request.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"
#include "tests/wine/tree_compare.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

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

namespace
{

bool UnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Runs kr-helper-host (a copy under `name`, so that Wine can be told per program to refuse
// d3dx9_36.dll) and returns what it printed.
std::string RunHelperHost(const std::string& name, bool withoutD3dx, const kr::test::TempDir& dir)
{
    const std::string exe = ProgramDir() + name;
    const std::string appKey = std::string("Software\\Wine\\AppDefaults\\") + name;
    if (name != "kr-helper-host.exe" && !CopyFileA((ProgramDir() + "kr-helper-host.exe").c_str(), exe.c_str(), FALSE))
        return "copy failed";
    if (withoutD3dx)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, (appKey + "\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return "no override";
        RegSetValueExA(key, "d3dx9_36", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1); // "" = disabled
        RegCloseKey(key);
    }
    const std::string out = dir.Path() + name + ".txt";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE file = CreateFileA(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = file;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + exe + "\"";
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                  &process);
    if (started)
    {
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(file);
    if (withoutD3dx)
        RegDeleteTreeA(HKEY_CURRENT_USER, appKey.c_str());
    if (name != "kr-helper-host.exe")
        DeleteFileA(exe.c_str());
    return started ? Slurp(out) : "not started";
}

} // namespace

// The export answers whether the runtime library loads, not what this program was built with.
TEST(HelperDll, IsDirectXInstalledFollowsWhetherTheRuntimeLoads)
{
    if (!UnderWine())
        GTEST_SKIP() << "refusing one library to one program needs Wine's overrides";
    kr::test::TempDir dir;
    // Wine brings its own d3dx9_36.dll.
    EXPECT_NE(std::string::npos, RunHelperHost("kr-helper-host.exe", false, dir).find("directx=1"));
    EXPECT_NE(std::string::npos, RunHelperHost("kr_helper_host_nodx.exe", true, dir).find("directx=0"));
}

// A host that frees the library in the middle of a run, without an End call: the engines' threads
// keep running code that must still be there; the library goes only once the runs are ended.
TEST(HelperDll, StaysLoadedWhileARunExistsAndGoesAfterItsEnd)
{
    std::string server = kr::test::Env("KR_TEST_HELPER_LAUNCHER_SERVER");
    if (server.empty())
        GTEST_SKIP() << "needs the servers of tests/wine/run.sh";
    const char* name = "KelvaneInstallHelperTest.dll";
    ASSERT_EQ(nullptr, GetModuleHandleA(name)) << "an earlier test left the library loaded";
    HMODULE module = LoadLibraryA((ProgramDir() + name).c_str());
    ASSERT_NE(nullptr, module);
    auto call = [](HMODULE m, const char* fn)
    {
        auto f = reinterpret_cast<IntExport>(reinterpret_cast<void*>(GetProcAddress(m, fn)));
        return f ? f() : -1000;
    };
    call(module, "Uninstall");
    ASSERT_EQ(1, call(module, "InstallPlugin"));
    ASSERT_EQ(1, call(module, "InstallGame"));
    FreeLibrary(module);
    // The threads work on; with the code gone this process would crash here.
    Sleep(1500);
    ASSERT_NE(nullptr, GetModuleHandleA(name)) << "unloaded under its running engines";

    // The same library again, with its runs: they end, and the library can go.
    HMODULE again = LoadLibraryA((ProgramDir() + name).c_str());
    ASSERT_EQ(module, again);
    EXPECT_EQ(1, call(again, "EndInstall"));
    EXPECT_EQ(0, call(again, "Uninstall"));
    FreeLibrary(again);
    EXPECT_EQ(nullptr, GetModuleHandleA(name)) << "the reference the runs held is given back";
}

// The settings answer of a server that sends too much, or too slowly: no answer, no engine.
TEST(HelperDll, AnOversizedSettingsAnswerStartsNoEngine)
{
    std::string odd = kr::test::Env("KR_TEST_ODD_SERVER");
    std::string server = kr::test::Env("KR_TEST_HELPER_LAUNCHER_SERVER");
    if (odd.empty() || server.empty())
        GTEST_SKIP() << "needs the servers of tests/wine/run.sh";
    // The odd server's "data" file is over 8 MiB and begins with a DownloadServer setting.
    ASSERT_EQ(0, _putenv(("KR_TEST_HELPER_LAUNCHER_SERVER=" + odd).c_str()));
    {
        Library lib("KelvaneInstallHelperTest.dll");
        ASSERT_NE(nullptr, lib.Module());
        EXPECT_EQ(0, lib.Call("InstallPlugin"));
        EXPECT_EQ(0, lib.Call("GetInstallPluginStatus"));
        EXPECT_EQ(0, lib.Call("Uninstall"));
    }
    _putenv(("KR_TEST_HELPER_LAUNCHER_SERVER=" + server).c_str());

    kr::helper::CKrHttpRequest request(std::vector<std::string>(kr::helper::CKrHttpRequest::kKeyCount, "k"));
    std::string body;
    EXPECT_EQ(1, request.HttpGet(odd + "/fits", body));
    EXPECT_EQ(size_t(8) << 20, body.size()) << "exactly the cap still passes";
    body.clear();
    EXPECT_EQ(0, request.HttpGet(odd + "/data", body));
    EXPECT_TRUE(body.empty());
    // Three seconds of trickle against half a second.
    request.SetLimits({size_t(8) << 20, 500});
    DWORD start = GetTickCount();
    EXPECT_EQ(0, request.HttpGet(odd + "/slow/slow", body));
    EXPECT_LT(GetTickCount() - start, 2000u);
    request.SetLimits({size_t(8) << 20, 15000});
    EXPECT_EQ(1, request.HttpGet(odd + "/slow/slow", body));
    EXPECT_EQ(60000u, body.size());
}

namespace
{

// A junction at `link` (created as an empty directory first) to the directory `target`.
bool MakeJunction(const std::string& link, const std::string& target, DWORD* error)
{
    if (!CreateDirectoryA(link.c_str(), nullptr))
    {
        *error = GetLastError();
        return false;
    }
    HANDLE h = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
    {
        *error = GetLastError();
        return false;
    }
    std::wstring print(target.begin(), target.end());
    std::wstring substitute = L"\\??\\" + print;
    // The mount point layout of REPARSE_DATA_BUFFER: both names, each with its terminator.
    std::vector<WCHAR> names(substitute.begin(), substitute.end());
    names.push_back(0);
    names.insert(names.end(), print.begin(), print.end());
    names.push_back(0);
    const USHORT subBytes = static_cast<USHORT>(substitute.size() * sizeof(WCHAR));
    const USHORT printBytes = static_cast<USHORT>(print.size() * sizeof(WCHAR));
    std::vector<BYTE> buffer(8 + 8 + names.size() * sizeof(WCHAR));
    auto put16 = [&](size_t at, USHORT v) { std::memcpy(&buffer[at], &v, 2); };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(&buffer[0], &tag, 4);
    put16(4, static_cast<USHORT>(buffer.size() - 8));
    put16(8, 0);
    put16(10, subBytes);
    put16(12, static_cast<USHORT>(subBytes + sizeof(WCHAR)));
    put16(14, printBytes);
    std::memcpy(&buffer[16], names.data(), names.size() * sizeof(WCHAR));
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr,
                              0, &returned, nullptr);
    *error = ok ? 0 : GetLastError();
    CloseHandle(h);
    return ok != FALSE;
}

bool Touch(const std::string& path)
{
    std::ofstream(path) << "x";
    return fs::exists(path);
}

} // namespace

namespace
{

// Wine's Unix path of a Windows path ("" outside Wine).
std::string UnixPath(const std::string& path)
{
    using Fn = char*(CDECL*)(LPCWSTR);
    auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn)
        return {};
    std::wstring wide(path.begin(), path.end());
    char* unix = fn(wide.c_str());
    if (!unix)
        return {};
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

bool RunUnix(std::string command)
{
    command = "start.exe /wait /unix " + command;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, 20000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// A directory link at `link` to `target`: a junction where the system makes one, else (Wine 8 makes
// none) a Unix symbolic link made by /bin/ln, which Wine follows like the system follows a junction.
bool MakeDirectoryLink(const std::string& link, const std::string& target, std::string* how)
{
    DWORD error = 0;
    if (MakeJunction(link, target, &error))
    {
        *how = "junction";
        return true;
    }
    RemoveDirectoryA(link.c_str());
    const std::string unixLink = UnixPath(link);
    const std::string unixTarget = UnixPath(target);
    if (unixLink.empty() || unixTarget.empty())
    {
        *how = "no junction (error " + std::to_string(error) + ") and no Unix side";
        return false;
    }
    *how = "unix symbolic link";
    if (!RunUnix("/bin/ln -s \"" + unixTarget + "\" \"" + unixLink + "\""))
        return false;
    // start.exe /wait returns when its own process ends, which on a loaded machine can come before the
    // Unix program has made the link.
    for (int waited = 0; waited < 5000 && !fs::exists(link); waited += 20)
        Sleep(20);
    return fs::exists(link);
}

// Removes a directory link, whichever kind MakeDirectoryLink made.
void RemoveDirectoryLink(const std::string& link)
{
    if (!RemoveDirectoryA(link.c_str()))
        RunUnix("/bin/rm -f \"" + UnixPath(link) + "\"");
}

} // namespace

// The removal decided that Data is a directory; then Data moves away and a link to a tree outside
// takes its name. Nothing outside may go.
TEST(HelperDll, ADirectorySwappedForALinkDuringTheRemovalLeadsNowhere)
{
    kr::test::TempDir temp, outside;
    const std::string keep = outside.Path() + "keep";
    ASSERT_TRUE(CreateDirectoryA(keep.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((keep + "\\inner").c_str(), nullptr));
    ASSERT_TRUE(Touch(keep + "\\precious.txt"));
    ASSERT_TRUE(Touch(keep + "\\inner\\deep.txt"));

    // The link works here at all: through it the outside tree is seen.
    std::string how;
    const std::string probe = temp.Path() + "probe";
    ASSERT_TRUE(MakeDirectoryLink(probe, keep, &how)) << how;
    ASSERT_TRUE(fs::exists(probe + "\\precious.txt")) << how << " does not lead to its target";
    std::cout << "  directory link: " << how << std::endl;
    RemoveDirectoryLink(probe);
    ASSERT_FALSE(fs::exists(probe));
    ASSERT_TRUE(fs::exists(keep + "\\precious.txt"));

    const std::string root = temp.Path() + "QuorvaleOnline";
    ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((root + "\\Data").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((root + "\\Data\\inner").c_str(), nullptr));
    ASSERT_TRUE(Touch(root + "\\Data\\precious.txt"));
    ASSERT_TRUE(Touch(root + "\\Data\\inner\\deep.txt"));
    int swaps = 0;
    kr::helper::RemoveDirectoryTree(root, [&](const std::string& path) {
        if (path != root + "\\Data")
            return;
        ++swaps;
        ASSERT_TRUE(MoveFileA((root + "\\Data").c_str(), (temp.Path() + "moved").c_str())) << GetLastError();
        std::string made;
        ASSERT_TRUE(MakeDirectoryLink(root + "\\Data", keep, &made)) << made;
    });
    EXPECT_EQ(swaps, 1);
    EXPECT_TRUE(fs::exists(keep + "\\precious.txt"));
    EXPECT_TRUE(fs::exists(keep + "\\inner\\deep.txt"));
    RemoveDirectoryLink(root + "\\Data");
}
