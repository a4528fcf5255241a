#include "platform/file_links.h"

#include <windows.h>
#include <winternl.h>

// Not in the toolchain's winternl.h.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apcRoutine, PVOID apcContext,
                                               PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS infoClass, BOOLEAN singleEntry,
                                               PUNICODE_STRING fileName, BOOLEAN restartScan);

namespace kr::os
{

namespace
{

std::string WithoutTrailingSeparators(std::string path)
{
    while (path.size() > 1 && (path.back() == '\\' || path.back() == '/') && path[path.size() - 2] != ':')
        path.pop_back();
    return path;
}

} // namespace

bool IsLinkEntry(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(WithoutTrailingSeparators(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool RemoveLinkEntry(const std::string& path)
{
    std::string p = WithoutTrailingSeparators(path);
    DWORD attributes = GetFileAttributesA(p.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    // A directory link or junction goes with RemoveDirectoryA, which never enters its target.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return RemoveDirectoryA(p.c_str()) != FALSE;
    return DeleteFileA(p.c_str()) != FALSE;
}

namespace
{

constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006L);
constexpr NTSTATUS kStatusNoSuchFile = static_cast<NTSTATUS>(0xC000000FL);
constexpr ULONG kFileOpen = 1;
constexpr ULONG kSynchronousIo = 0x00000020;
constexpr ULONG kForBackup = 0x00004000;
// Delete, list, read attributes; the others may still rename or delete it meanwhile, as on a real
// system where the race exists.
constexpr DWORD kAccess = DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring Wide(const std::string& text, UINT codePage)
{
    int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string Utf8(const wchar_t* text, size_t length)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
    return out;
}

} // namespace

struct OpenedEntry::Native
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~Native()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }

    bool Decide(EntryKind& kind) const
    {
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(handle, &info))
            return false;
        if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            kind = EntryKind::Link;
        else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            kind = EntryKind::Directory;
        else
            kind = EntryKind::File;
        return true;
    }
};

OpenedEntry::OpenedEntry() = default;
OpenedEntry::~OpenedEntry() = default;

bool OpenedEntry::Open(const std::string& path)
{
    auto native = std::make_unique<Native>();
    native->handle = CreateFileA(WithoutTrailingSeparators(path).c_str(), kAccess, kShare, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (native->handle == INVALID_HANDLE_VALUE || !native->Decide(m_kind))
        return false;
    m_native = std::move(native);
    return true;
}

bool OpenedEntry::OpenChild(const OpenedEntry& directory, const std::string& name)
{
    if (!directory.m_native || directory.m_kind != EntryKind::Directory || name.empty() ||
        name.find_first_of("\\/") != std::string::npos)
        return false;
    std::wstring wide = Wide(name, CP_UTF8);
    UNICODE_STRING objectName;
    objectName.Buffer = &wide[0];
    objectName.Length = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, directory.m_native->handle, nullptr);
    IO_STATUS_BLOCK status;
    auto native = std::make_unique<Native>();
    HANDLE handle = nullptr;
    // Relative to the directory's handle, never by a path that a swapped parent could redirect.
    NTSTATUS result = NtCreateFile(&handle, kAccess, &attributes, &status, nullptr, 0, kShare, kFileOpen,
                                   FILE_OPEN_REPARSE_POINT | kForBackup | kSynchronousIo, nullptr, 0);
    if (result < 0 || !handle)
        return false;
    native->handle = handle;
    if (!native->Decide(m_kind))
        return false;
    m_native = std::move(native);
    return true;
}

ListResult OpenedEntry::ListNames(std::vector<std::string>& names) const
{
    names.clear();
    if (!m_native || m_kind != EntryKind::Directory)
        return ListResult::Failed;
    alignas(8) unsigned char buffer[16384];
    bool first = true;
    for (;;)
    {
        IO_STATUS_BLOCK status;
        NTSTATUS result = NtQueryDirectoryFile(m_native->handle, nullptr, nullptr, nullptr, &status, buffer,
                                               sizeof(buffer), FileDirectoryInformation, FALSE, nullptr,
                                               first ? TRUE : FALSE);
        if (result == kStatusNoMoreFiles)
            return first ? ListResult::NothingFound : ListResult::Listed;
        if (result == kStatusNoSuchFile && first)
            return ListResult::NothingFound;
        if (result < 0)
            return ListResult::Failed;
        first = false;
        for (size_t offset = 0;;)
        {
            auto* info = reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(buffer + offset);
            std::string name = Utf8(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != "." && name != "..")
                names.push_back(name);
            if (info->NextEntryOffset == 0)
                break;
            offset += info->NextEntryOffset;
        }
    }
}

bool OpenedEntry::Delete()
{
    if (!m_native)
        return false;
    // Through the handle: a link opened as itself goes alone, whatever its name points to now.
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(m_native->handle, FileDispositionInfo, &disposition, sizeof(disposition)))
        return false;
    m_native.reset(); // the entry goes when its last handle closes
    return true;
}

} // namespace kr::os
