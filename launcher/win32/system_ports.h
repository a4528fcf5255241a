#pragma once
// The launcher's registry, shell and folder ports over the Win32 API.
#include "launcher/ports.h"

// Keys below HKEY_CURRENT_USER.
class CKrWin32Registry : public IKrRegistryPort
{
public:
    uint32_t OpenKey(const std::string& key, Access access) override;
    uint32_t CreateKey(const std::string& key) override;
    uint32_t WriteString(const std::string& key, const std::string& name, const std::string& value) override;
    uint32_t ReadString(const std::string& key, const std::string& name, std::string& value,
                        size_t maxChars) override;
};

class CKrWin32Shell : public IKrShellPort
{
public:
    void StartProgram(const std::string& file, const std::string& parameters,
                      const std::string& directory) override;
    void OpenUrl(const std::string& url) override;
};

class CKrWin32Folders : public IKrFoldersPort
{
public:
    std::string ProgramFilesFolder() override;
    void DataFolders(std::string& shared, std::string& user) override;
    bool LongPathName(const std::string& path, std::string& longPath) override;
    uint32_t FileAttributes(const std::string& path) override;
    uint32_t MakeDirectory(const std::string& path) override;
};
