#pragma once
// Recording fakes of the launcher's ports, for native tests of its logic.
#include "launcher/ports.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace kr::test
{

// Folders of a pretend Windows machine: a set of directories with their attributes; directory
// creation either works or fails with a chosen error per path.
class FakeFolders : public IKrFoldersPort
{
public:
    std::string programFiles = "C:\\Program Files";
    std::string sharedFolder = "C:\\Users\\Public";
    std::string userFolder = "C:\\Users\\p\\AppData\\LocalLow";
    std::map<std::string, uint32_t> attributes;   // existing paths, as asked (with separators)
    std::map<std::string, std::string> longNames; // short path -> long path
    std::map<std::string, uint32_t> createErrors; // paths whose creation fails with this code
    std::vector<std::string> created;             // every creation asked for, in order

    void AddDirectory(const std::string& path, uint32_t attrs = kKrAttributeDirectory)
    {
        attributes[path] = attrs;
    }

    std::string ProgramFilesFolder() override { return programFiles; }
    void DataFolders(std::string& shared, std::string& user) override
    {
        shared = sharedFolder;
        user = userFolder;
    }
    bool LongPathName(const std::string& path, std::string& longPath) override
    {
        auto it = longNames.find(path);
        if (it == longNames.end())
            return false;
        longPath = it->second;
        return true;
    }
    uint32_t FileAttributes(const std::string& path) override
    {
        auto it = attributes.find(path);
        return it == attributes.end() ? kKrInvalidAttributes : it->second;
    }
    uint32_t MakeDirectory(const std::string& path) override
    {
        created.push_back(path);
        auto failure = createErrors.find(path);
        if (failure != createErrors.end())
            return failure->second;
        if (attributes.count(path))
            return kKrErrorAlreadyExists;
        attributes[path] = kKrAttributeDirectory;
        return kKrErrorSuccess;
    }
};

} // namespace kr::test

namespace kr::test
{

// The registry as a map of keys to their values; a key listed in `failures` fails every call on it.
class FakeRegistry : public IKrRegistryPort
{
public:
    std::map<std::string, std::map<std::string, std::string>> keys;
    std::map<std::string, uint32_t> failures;

    uint32_t OpenKey(const std::string& key, Access) override
    {
        if (failures.count(key))
            return failures[key];
        return keys.count(key) ? kKrErrorSuccess : kKrErrorFileNotFound;
    }
    uint32_t CreateKey(const std::string& key) override
    {
        if (failures.count(key))
            return failures[key];
        keys[key];
        return kKrErrorSuccess;
    }
    uint32_t WriteString(const std::string& key, const std::string& name, const std::string& value) override
    {
        if (failures.count(key))
            return failures[key];
        if (!keys.count(key))
            return kKrErrorFileNotFound;
        keys[key][name] = value;
        return kKrErrorSuccess;
    }
    uint32_t ReadString(const std::string& key, const std::string& name, std::string& value,
                        size_t maxChars) override
    {
        if (failures.count(key))
            return failures[key];
        auto k = keys.find(key);
        if (k == keys.end() || !k->second.count(name))
            return kKrErrorFileNotFound;
        value = k->second[name].substr(0, maxChars);
        return kKrErrorSuccess;
    }
};

// Window, browser and shell: each call recorded as one line of text.
class FakeWindow : public IKrWindowPort
{
public:
    std::vector<std::string> calls;
    void ShowMessage(const std::string& text, const std::string& caption) override
    {
        calls.push_back("message " + caption + ": " + text);
    }
    std::string SystemErrorText(uint32_t code) override { return "system error " + std::to_string(code); }
    void PostQuit() override { calls.push_back("quit"); }
    void Invalidate() override { calls.push_back("invalidate"); }
};

class FakeBrowser : public IKrBrowserPort
{
public:
    std::vector<std::string> calls;
    void Navigate(const std::string& url) override { calls.push_back("navigate " + url); }
    void Stop() override { calls.push_back("stop"); }
};

class FakeShell : public IKrShellPort
{
public:
    std::vector<std::string> calls;
    void StartProgram(const std::string& file, const std::string& parameters,
                      const std::string& directory) override
    {
        calls.push_back("start " + file + " [" + parameters + "] in " + directory);
    }
    void OpenUrl(const std::string& url) override { calls.push_back("open " + url); }
};

} // namespace kr::test
