#include "launcher/win32/system_ports.h"

#include "installhelper/win32/base_folders.h"
#include "services/text_convert.h"

// windows.h first: the shell headers build on it.
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <vector>

namespace
{

// Closes a registry key when it leaves scope.
class Key
{
public:
    Key() = default;
    ~Key()
    {
        if (m_key)
            RegCloseKey(m_key);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* Out() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

const char* OrNull(const std::string& text)
{
    return text.empty() ? nullptr : text.c_str();
}

} // namespace

uint32_t CKrWin32Registry::OpenKey(const std::string& key, Access access)
{
    const REGSAM rights = access == Access::Read ? KEY_READ : (KEY_QUERY_VALUE | KEY_SET_VALUE);
    Key handle;
    return static_cast<uint32_t>(RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, rights, handle.Out()));
}

uint32_t CKrWin32Registry::CreateKey(const std::string& key)
{
    Key handle;
    return static_cast<uint32_t>(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr,
                                                 REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, handle.Out(),
                                                 nullptr));
}

uint32_t CKrWin32Registry::WriteString(const std::string& key, const std::string& name, const std::string& value)
{
    Key handle;
    LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, handle.Out());
    if (result != ERROR_SUCCESS)
        return static_cast<uint32_t>(result);
    // The product writes REG_SZ without the terminating zero; readers must not rely on it.
    result = RegSetValueExA(handle.Get(), OrNull(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                            static_cast<DWORD>(value.size()));
    return static_cast<uint32_t>(result);
}

uint32_t CKrWin32Registry::ReadString(const std::string& key, const std::string& name, std::string& value,
                                      size_t maxChars)
{
    Key handle;
    LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, handle.Out());
    if (result != ERROR_SUCCESS)
        return static_cast<uint32_t>(result);
    DWORD type = 0;
    DWORD size = 0;
    result = RegQueryValueExA(handle.Get(), OrNull(name), nullptr, &type, nullptr, &size);
    if (result != ERROR_SUCCESS)
        return static_cast<uint32_t>(result);
    // One spare zero: a value stored without its terminator still ends here.
    std::vector<char> buffer(size + 1, '\0');
    result = RegQueryValueExA(handle.Get(), OrNull(name), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                              &size);
    if (result != ERROR_SUCCESS)
        return static_cast<uint32_t>(result);
    std::string text(buffer.data());
    value = text.substr(0, maxChars);
    return ERROR_SUCCESS;
}

void CKrWin32Shell::StartProgram(const std::string& file, const std::string& parameters,
                                 const std::string& directory)
{
    ShellExecuteA(nullptr, "open", file.c_str(), OrNull(parameters), OrNull(directory), SW_SHOWNORMAL);
}

void CKrWin32Shell::OpenUrl(const std::string& url)
{
    ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
}

std::string CKrWin32Folders::ProgramFilesFolder()
{
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, path)))
        return std::string();
    return path;
}

void CKrWin32Folders::DataFolders(std::string& shared, std::string& user)
{
    // The install helper's rule, with the launcher's text code page (1252 unless set otherwise).
    kr::helper::FindBaseFoldersIn(GetProcessCodePage(), shared, user);
}

bool CKrWin32Folders::LongPathName(const std::string& path, std::string& longPath)
{
    char buffer[1024];
    const DWORD length = GetLongPathNameA(path.c_str(), buffer, sizeof(buffer));
    if (length == 0 || length >= sizeof(buffer))
        return false;
    longPath.assign(buffer, length);
    return true;
}

uint32_t CKrWin32Folders::FileAttributes(const std::string& path)
{
    return GetFileAttributesA(path.c_str());
}

uint32_t CKrWin32Folders::MakeDirectory(const std::string& path)
{
    return CreateDirectoryA(path.c_str(), nullptr) ? ERROR_SUCCESS : GetLastError();
}
