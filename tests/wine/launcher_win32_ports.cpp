// The launcher program's Win32 pieces: registry and folder ports against the real API, and the class
// window procedure delivering messages of a real window to a launcher with recording ports.
#include "launcher/launcher.h"
#include "launcher/win32/system_ports.h"
#include "launcher/win32/window_procedure.h"
#include "tests/support/temp_dir.h"
#include "tests/unit/launcher/fake_ports.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

namespace
{

// A scratch key below HKEY_CURRENT_USER, removed with everything under it.
class ScratchKey
{
public:
    ScratchKey() : m_path("Software\\KrTests\\Ports" + std::to_string(GetCurrentProcessId())) {}
    ~ScratchKey() { RegDeleteTreeA(HKEY_CURRENT_USER, m_path.c_str()); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Stores a REG_SZ value of `count` bytes of `data` without any terminator: the byte after them is not
// zero, so the system cannot take one along.
void StoreUnterminated(const std::string& key, const char* name, const char* data, DWORD count)
{
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, &handle), ERROR_SUCCESS);
    ASSERT_NE(data[count], '\0');
    EXPECT_EQ(RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), count), ERROR_SUCCESS);
    RegCloseKey(handle);
}

} // namespace

TEST(LauncherWin32Registry, StringsRoundTripAndReadsAreCappedAndTerminated)
{
    ScratchKey scratch;
    CKrWin32Registry registry;
    const std::string key = scratch.Path() + "\\shell\\open\\command";
    EXPECT_EQ(registry.OpenKey(key, IKrRegistryPort::Access::Read), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.WriteString(key, "", "x"), ERROR_FILE_NOT_FOUND) << "writing never creates the key";

    ASSERT_EQ(registry.CreateKey(key), ERROR_SUCCESS);
    EXPECT_EQ(registry.OpenKey(key, IKrRegistryPort::Access::QueryAndSet), ERROR_SUCCESS);
    const std::string command = "\"Z:\\pre\\Quorvale.exe\" -uri=%1";
    ASSERT_EQ(registry.WriteString(key, "", command), ERROR_SUCCESS);
    ASSERT_EQ(registry.WriteString(key, "user", "abcdef"), ERROR_SUCCESS);

    std::string value;
    ASSERT_EQ(registry.ReadString(key, "", value, 255), ERROR_SUCCESS);
    EXPECT_EQ(value, command);
    ASSERT_EQ(registry.ReadString(key, "user", value, 4), ERROR_SUCCESS);
    EXPECT_EQ(value, "abcd");
    EXPECT_EQ(registry.ReadString(key, "missing", value, 255), ERROR_FILE_NOT_FOUND);

    StoreUnterminated(key, "raw", "quorvaleXYZ", 8);
    ASSERT_EQ(registry.ReadString(key, "raw", value, 255), ERROR_SUCCESS);
    EXPECT_EQ(value, "quorvale");

    ASSERT_EQ(registry.WriteString(key, "empty", ""), ERROR_SUCCESS);
    value = "stale";
    ASSERT_EQ(registry.ReadString(key, "empty", value, 255), ERROR_SUCCESS);
    EXPECT_EQ(value, "");
}

TEST(LauncherWin32Folders, DirectoriesAttributesAndDataFolders)
{
    kr::test::TempDir temp;
    CKrWin32Folders folders;
    const std::string dir = temp.Path() + "Long Folder Name";
    EXPECT_EQ(folders.FileAttributes(dir), kKrInvalidAttributes);
    EXPECT_EQ(folders.MakeDirectory(dir), kKrErrorSuccess);
    EXPECT_EQ(folders.MakeDirectory(dir), kKrErrorAlreadyExists);
    EXPECT_EQ(folders.FileAttributes(dir), kKrAttributeDirectory);

    char shortPath[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameA(dir.c_str(), shortPath, MAX_PATH), 0u);
    std::string longPath;
    ASSERT_TRUE(folders.LongPathName(shortPath, longPath));
    EXPECT_EQ(_stricmp(longPath.c_str(), dir.c_str()), 0) << shortPath << " -> " << longPath;
    EXPECT_FALSE(folders.LongPathName(dir + "\\missing", longPath));

    std::string shared, user;
    folders.DataFolders(shared, user);
    ASSERT_FALSE(shared.empty());
    ASSERT_FALSE(user.empty());
    EXPECT_NE(shared.back(), '\\');
    EXPECT_TRUE(folders.FileAttributes(shared) & kKrAttributeDirectory) << shared;
    EXPECT_TRUE(folders.FileAttributes(user) & kKrAttributeDirectory) << user;
    EXPECT_FALSE(folders.ProgramFilesFolder().empty());
}

// A real window of the launcher class whose messages reach a launcher with recording ports.
class LauncherWindowProcedure : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kr::win32::RegisterLauncherClass(GetModuleHandleA(nullptr)));
        // Message-only: the test program runs without a display.
        m_window = CreateWindowExA(0, kr::win32::kWindowClass, "test", 0, 0, 0, 100, 100, HWND_MESSAGE,
                                   nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(m_window, nullptr);
    }
    void TearDown() override
    {
        if (m_window)
        {
            kr::win32::AttachLauncher(m_window, nullptr);
            DestroyWindow(m_window);
        }
    }
    bool Called(const std::string& call) const
    {
        return std::find(m_fakeWindow.calls.begin(), m_fakeWindow.calls.end(), call) != m_fakeWindow.calls.end();
    }

    kr::test::FakeWindow m_fakeWindow;
    kr::test::FakeBrowser m_browser;
    kr::test::FakeRegistry m_registry;
    kr::test::FakeShell m_shell;
    kr::test::FakeFolders m_folders;
    CKrLauncher m_launcher{KrLauncherPorts{m_fakeWindow, m_browser, m_registry, m_shell, m_folders}};
    HWND m_window = nullptr;
};

TEST_F(LauncherWindowProcedure, TimersAndDestroyReachTheLauncherOnlyOnceAttached)
{
    SendMessageA(m_window, WM_TIMER, 1, 0);
    EXPECT_TRUE(m_fakeWindow.calls.empty()) << "nothing reaches the launcher before it is attached";

    kr::win32::AttachLauncher(m_window, &m_launcher);
    SendMessageA(m_window, WM_TIMER, 1, 0);
    EXPECT_TRUE(Called("kill timer 1"));
    EXPECT_TRUE(Called("set timer 2 250"));
    SendMessageA(m_window, WM_TIMER, 2, 0);
    EXPECT_TRUE(Called("set timer 3 1000"));

    SendMessageA(m_window, WM_DESTROY, 0, 0);
    EXPECT_TRUE(Called("quit"));
}

TEST_F(LauncherWindowProcedure, MouseCoordinatesComeFromTheLowAndHighWords)
{
    kr::win32::AttachLauncher(m_window, &m_launcher);
    SendMessageA(m_window, WM_TIMER, 1, 0); // lays out the 1024 x 682 client of the fake window
    const KrRect hit = m_launcher.State().layout.buttonHit;
    ASSERT_GT(hit.Width(), 0);

    SendMessageA(m_window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.left + 1, hit.top + 1));
    EXPECT_TRUE(m_launcher.State().pressed);
    // x and y swapped would miss the button.
    SendMessageA(m_window, WM_LBUTTONUP, 0, MAKELPARAM(hit.left + 1, hit.top + 1));
    EXPECT_FALSE(m_launcher.State().pressed);
    SendMessageA(m_window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.top + 1, hit.left + 1));
    EXPECT_FALSE(m_launcher.State().pressed);

    SendMessageA(m_window, WM_MOUSEMOVE, 0, MAKELPARAM(hit.left + 1, hit.top + 1));
    EXPECT_TRUE(m_launcher.State().hover);
}

TEST_F(LauncherWindowProcedure, MouseCoordinatesAreSignedWords)
{
    // A client so wide that the button lies beyond 32767: its words read unsigned would hit it, but a
    // word of 0x8000 or more is a position left of the window.
    m_fakeWindow.client = KrRect{0, 0, 65536, 682};
    kr::win32::AttachLauncher(m_window, &m_launcher);
    SendMessageA(m_window, WM_TIMER, 1, 0);
    const KrRect hit = m_launcher.State().layout.buttonHit;
    ASSERT_GE(hit.left, 32768);
    ASSERT_LT(hit.right, 65536);
    m_launcher.OnMouseMove(hit.left + 1, hit.top + 1);
    ASSERT_TRUE(m_launcher.State().hover) << "the button is there";
    SendMessageA(m_window, WM_MOUSEMOVE, 0, MAKELPARAM(hit.left + 1, hit.top + 1));
    EXPECT_FALSE(m_launcher.State().hover) << "x is " << hit.left + 1 - 65536 << ", left of the window";
    SendMessageA(m_window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.left + 1, hit.top + 1));
    EXPECT_FALSE(m_launcher.State().pressed);
}
