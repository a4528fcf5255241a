#include "installhelper/win32/base_folders.h"

#include <shlobj.h>
#include <windows.h>

namespace kr::helper
{

namespace
{

// Known folders, spelt out so that the library needs no GUID import library.
const GUID kFolderPublic = {0xDFDF76A2, 0xC82A, 0x4D63, {0x90, 0x6A, 0x56, 0x44, 0xAC, 0x45, 0x73, 0x85}};
const GUID kFolderLocalAppDataLow = {
    0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
constexpr int kCommonAppDataCreate = 0x8023;
constexpr int kLocalAppDataCreate = 0x801C;
constexpr DWORD kKnownFolderCreate = 0x8000;

using GetFolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
using GetKnownFolderPathFn = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, PWSTR*);
using TaskMemFreeFn = void(WINAPI*)(LPVOID);

// A module taken from the loaded ones when present, else loaded here and freed again.
class Module
{
public:
    explicit Module(const char* name)
    {
        m_handle = GetModuleHandleA(name);
        if (!m_handle)
        {
            m_handle = LoadLibraryA(name);
            m_owned = m_handle != nullptr;
        }
    }
    ~Module()
    {
        if (m_owned)
            FreeLibrary(m_handle);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    template <typename Fn> Fn Find(const char* name) const
    {
        return m_handle ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_handle, name)))
                        : nullptr;
    }

private:
    HMODULE m_handle = nullptr;
    bool m_owned = false;
};

int MajorVersion()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    return GetVersionExA(&info) ? static_cast<int>(info.dwMajorVersion) : 0;
}

std::string ToNarrow(const wchar_t* wide, unsigned codePage)
{
    char buffer[MAX_PATH] = {};
    if (WideCharToMultiByte(codePage, 0, wide, -1, buffer, MAX_PATH, nullptr, nullptr) <= 0)
        return std::string();
    return buffer;
}

} // namespace

void FindBaseFoldersIn(unsigned codePage, std::string& sharedBase, std::string& userBase)
{
    sharedBase.clear();
    userBase.clear();
    Module shell("shell32.dll");
    if (MajorVersion() < 6)
    {
        auto getFolderPath = shell.Find<GetFolderPathFn>("SHGetFolderPathA");
        if (!getFolderPath)
            return;
        char path[MAX_PATH];
        if (SUCCEEDED(getFolderPath(nullptr, kCommonAppDataCreate, nullptr, 0, path)))
            sharedBase = path;
        if (SUCCEEDED(getFolderPath(nullptr, kLocalAppDataCreate, nullptr, 0, path)))
            userBase = path;
        return;
    }
    Module ole("ole32.dll");
    auto getKnownFolderPath = shell.Find<GetKnownFolderPathFn>("SHGetKnownFolderPath");
    auto taskMemFree = ole.Find<TaskMemFreeFn>("CoTaskMemFree");
    if (!getKnownFolderPath || !taskMemFree)
        return;
    PWSTR shared = nullptr;
    PWSTR user = nullptr;
    HRESULT sharedResult = getKnownFolderPath(kFolderPublic, kKnownFolderCreate, nullptr, &shared);
    HRESULT userResult = getKnownFolderPath(kFolderLocalAppDataLow, kKnownFolderCreate, nullptr, &user);
    if (SUCCEEDED(sharedResult) && SUCCEEDED(userResult) && shared && user)
    {
        sharedBase = ToNarrow(shared, codePage);
        userBase = ToNarrow(user, codePage);
    }
    if (shared)
        taskMemFree(shared);
    if (user)
        taskMemFree(user);
}

void FindBaseFolders(std::string& sharedBase, std::string& userBase)
{
    FindBaseFoldersIn(CP_ACP, sharedBase, userBase);
}

} // namespace kr::helper
