#pragma once
// The launcher's ports: what its logic needs of the window, the browser, the registry, the shell and
// the Windows folders. The Win32 program implements them with the real API; native tests use fakes
// that record what happened.
#include "launcher/display_list.h"

#include <cstdint>
#include <string>

class CKrLauncher;
class CKrWebBrowser;

// Win32 error codes the launcher looks at.
constexpr uint32_t kKrErrorSuccess = 0;
constexpr uint32_t kKrErrorFileNotFound = 2;
constexpr uint32_t kKrErrorAccessDenied = 5;
constexpr uint32_t kKrErrorAlreadyExists = 183;
constexpr uint32_t kKrErrorHostDown = 1256;

// GetFileAttributesA's answer when the path does not exist.
constexpr uint32_t kKrInvalidAttributes = 0xFFFFFFFFu;
constexpr uint32_t kKrAttributeDirectory = 0x10;

// Window styles the launcher sets (Win32 values).
constexpr uint32_t kKrStyleMainWindow = 0x00C00000u | 0x00080000u | 0x00020000u; // caption, sysmenu, minimize box
constexpr uint32_t kKrExStyleMainWindow = 0x00000001u | 0x00000008u | 0x00000002u; // dlgmodalframe, topmost, 2

// SM_CXFIXEDFRAME, SM_CYFIXEDFRAME, SM_CYCAPTION.
struct KrFrameMetrics
{
    int32_t frameX = 0;
    int32_t frameY = 0;
    int32_t caption = 0;
};

// The launcher window.
class IKrWindowPort
{
public:
    virtual ~IKrWindowPort() = default;
    // Loads "Splash.bmp" (a missing picture gives a 0 x 0 splash), registers the window class, creates
    // the window at the picture's size centred on the primary screen, turns it into a layered window and
    // shows the picture in it. Window messages go to `launcher` from then on. False when the window
    // cannot be created.
    virtual bool CreateSplashWindow(CKrLauncher& launcher) = 0;
    // Runs the message loop until WM_QUIT; returns its wParam.
    virtual uint32_t RunMessageLoop() = 0;

    virtual void SetTimer(uint32_t id, uint32_t periodMs) = 0;
    virtual void KillTimer(uint32_t id) = 0;
    // SM_CXSCREEN, SM_CYSCREEN.
    virtual void ScreenSize(int32_t& width, int32_t& height) = 0;
    virtual KrFrameMetrics FrameMetrics() = 0;
    virtual KrRect ClientRect() = 0;
    virtual void SetStyle(uint32_t style) = 0;
    virtual void SetExStyle(uint32_t exStyle) = 0;
    // MoveWindow without repainting.
    virtual void Move(int32_t x, int32_t y, int32_t width, int32_t height) = 0;
    // SW_SHOW or SW_HIDE.
    virtual void Show(bool visible) = 0;
    virtual void SetCursor(KrCursor cursor) = 0;
    // The message box of the launcher update (MessageBoxW, OK, information icon).
    virtual void ShowWideMessage(const std::u16string& text, const std::u16string& caption) = 0;

    // Taskbar progress (ITaskbarList3). Create returns false when the object cannot be had; the other
    // two are then never called.
    virtual bool CreateTaskbarProgress() = 0;
    virtual void SetTaskbarNoProgress() = 0;
    virtual void SetTaskbarProgress(uint64_t done, uint64_t total) = 0;

    // A modal message box with an OK button and the information icon, owned by the window when it
    // exists; returns when the player closes it.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
    // The system's message text for a Win32 error code ("" when there is none).
    virtual std::string SystemErrorText(uint32_t code) = 0;
    // Posts WM_QUIT to the window (to the thread's queue while there is no window).
    virtual void PostQuit() = 0;
    // Repaints the whole window later, without erasing.
    virtual void Invalidate() = 0;
};

// The embedded web browser. Once created, its four navigation events reach the CKrWebBrowser.
class IKrBrowserPort
{
public:
    virtual ~IKrBrowserPort() = default;
    // Embeds the browser in the launcher window; false when it cannot be (start-up goes on without).
    virtual bool Create(CKrWebBrowser& events) = 0;
    virtual void Navigate(const std::string& url) = 0;
    virtual void Stop() = 0;
    // Fits the browser to the window's client area less the 48-pixel strip at the bottom.
    virtual void Resize() = 0;
    // The value of the page's form element `name`; false when there is no such element.
    virtual bool GetInputValue(const std::string& name, std::u16string& value) = 0;
    virtual bool SetInputValue(const std::string& name, const std::u16string& value) = 0;
    // Gives the element `name` the keyboard focus; false when there is no such element.
    virtual bool FocusElement(const std::string& name) = 0;
};

// The registry under HKEY_CURRENT_USER. Keys are paths below it ("Software\\Classes\\x"); an empty
// value name is the key's default value. Results are Win32 error codes, 0 for success.
class IKrRegistryPort
{
public:
    enum class Access
    {
        QueryAndSet, // KEY_QUERY_VALUE | KEY_SET_VALUE
        Read,        // KEY_READ
    };
    virtual ~IKrRegistryPort() = default;
    // Opens and closes the key: tells whether it exists and grants `access`.
    virtual uint32_t OpenKey(const std::string& key, Access access) = 0;
    // Creates the key (non-volatile) when it is missing.
    virtual uint32_t CreateKey(const std::string& key) = 0;
    // REG_SZ, written without its terminating zero.
    virtual uint32_t WriteString(const std::string& key, const std::string& name,
                                 const std::string& value) = 0;
    // At most `maxChars` characters are kept.
    virtual uint32_t ReadString(const std::string& key, const std::string& name, std::string& value,
                                size_t maxChars) = 0;
};

// Starting other programs.
class IKrShellPort
{
public:
    virtual ~IKrShellPort() = default;
    // ShellExecuteA "open" with SW_SHOWNORMAL; the outcome is not reported.
    virtual void StartProgram(const std::string& file, const std::string& parameters,
                              const std::string& directory) = 0;
    // The URL in the system's default browser.
    virtual void OpenUrl(const std::string& url) = 0;
};

// The Windows folders and the few directory operations the path rules use. Paths are the product's
// own form (backslashes).
class IKrFoldersPort
{
public:
    virtual ~IKrFoldersPort() = default;
    // The Program Files folder, without a trailing separator; "" when it cannot be found.
    virtual std::string ProgramFilesFolder() = 0;
    // The shared folder (all users) and the user's folder for application data, created when
    // missing, without trailing separators; each "" when it cannot be found.
    virtual void DataFolders(std::string& shared, std::string& user) = 0;
    // The long form of an existing path; false when it cannot be had.
    virtual bool LongPathName(const std::string& path, std::string& longPath) = 0;
    // GetFileAttributesA: the attribute bits, kKrInvalidAttributes when the path does not exist.
    virtual uint32_t FileAttributes(const std::string& path) = 0;
    // One directory level; 0, or the Win32 error code (kKrErrorAlreadyExists when it exists).
    virtual uint32_t MakeDirectory(const std::string& path) = 0;
};
