#pragma once
// The launcher's ports: what its logic needs of the window, the browser, the registry, the shell and
// the Windows folders. The Win32 program implements them with the real API; native tests use fakes
// that record what happened. Only what the logic uses so far; later parts add to them.
#include <cstdint>
#include <string>

// Win32 error codes the launcher looks at.
constexpr uint32_t kKrErrorSuccess = 0;
constexpr uint32_t kKrErrorFileNotFound = 2;
constexpr uint32_t kKrErrorAccessDenied = 5;
constexpr uint32_t kKrErrorAlreadyExists = 183;
constexpr uint32_t kKrErrorHostDown = 1256;

// GetFileAttributesA's answer when the path does not exist.
constexpr uint32_t kKrInvalidAttributes = 0xFFFFFFFFu;
constexpr uint32_t kKrAttributeDirectory = 0x10;

// The launcher window.
class IKrWindowPort
{
public:
    virtual ~IKrWindowPort() = default;
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

// The embedded web browser.
class IKrBrowserPort
{
public:
    virtual ~IKrBrowserPort() = default;
    virtual void Navigate(const std::string& url) = 0;
    virtual void Stop() = 0;
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
