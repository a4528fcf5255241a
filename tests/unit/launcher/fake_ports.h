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
    bool createSucceeds = true;
    bool taskbarAvailable = true;
    int32_t screenWidth = 1920;
    int32_t screenHeight = 1080;
    KrRect client{0, 0, 1024, 682};
    std::map<uint32_t, uint32_t> timers; // running timers: id -> period
    KrCursor cursor = KrCursor::Arrow;

    bool CreateSplashWindow(CKrLauncher&) override
    {
        calls.push_back(createSucceeds ? "create" : "create failed");
        return createSucceeds;
    }
    uint32_t RunMessageLoop() override { return 0; }
    void SetTimer(uint32_t id, uint32_t periodMs) override
    {
        timers[id] = periodMs;
        calls.push_back("set timer " + std::to_string(id) + " " + std::to_string(periodMs));
    }
    void KillTimer(uint32_t id) override
    {
        timers.erase(id);
        calls.push_back("kill timer " + std::to_string(id));
    }
    void ScreenSize(int32_t& width, int32_t& height) override
    {
        width = screenWidth;
        height = screenHeight;
    }
    KrFrameMetrics FrameMetrics() override { return {3, 3, 19}; }
    KrRect ClientRect() override { return client; }
    void SetStyle(uint32_t style) override { calls.push_back("style " + std::to_string(style)); }
    void SetExStyle(uint32_t exStyle) override { calls.push_back("exstyle " + std::to_string(exStyle)); }
    void Move(int32_t x, int32_t y, int32_t width, int32_t height) override
    {
        calls.push_back("move " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(width) +
                        "x" + std::to_string(height));
    }
    void Show(bool visible) override { calls.push_back(visible ? "show" : "hide"); }
    void SetCursor(KrCursor c) override { cursor = c; }
    void ShowWideMessage(const std::u16string& text, const std::u16string& caption) override
    {
        calls.push_back("wide message " + std::string(caption.begin(), caption.end()) + ": " +
                        std::string(text.begin(), text.end()));
    }
    bool CreateTaskbarProgress() override { return taskbarAvailable; }
    void SetTaskbarNoProgress() override { calls.push_back("taskbar none"); }
    void SetTaskbarProgress(uint64_t done, uint64_t total) override
    {
        calls.push_back("taskbar " + std::to_string(done) + "/" + std::to_string(total));
    }
    void ShowMessage(const std::string& text, const std::string& caption) override
    {
        calls.push_back("message " + caption + ": " + text);
    }
    bool systemHasTexts = true;
    std::string SystemErrorText(uint32_t code) override
    {
        return systemHasTexts ? "system error " + std::to_string(code) : std::string();
    }
    void PostQuit() override { calls.push_back("quit"); }
    void Invalidate() override { calls.push_back("invalidate"); }
};

// A page with form fields; navigation events are delivered by the test.
class FakeBrowser : public IKrBrowserPort
{
public:
    std::vector<std::string> calls;
    bool embeds = true;
    std::map<std::string, std::u16string> fields; // the current page's form elements

    bool Create(CKrWebBrowser&) override
    {
        calls.push_back("create");
        return embeds;
    }
    void Navigate(const std::string& url) override { calls.push_back("navigate " + url); }
    void Stop() override { calls.push_back("stop"); }
    void Resize() override { calls.push_back("resize"); }
    bool GetInputValue(const std::string& name, std::u16string& value) override
    {
        auto it = fields.find(name);
        if (it == fields.end())
            return false;
        value = it->second;
        return true;
    }
    bool SetInputValue(const std::string& name, const std::u16string& value) override
    {
        auto it = fields.find(name);
        if (it == fields.end())
            return false;
        it->second = value;
        calls.push_back("set " + name);
        return true;
    }
    bool FocusElement(const std::string& name) override
    {
        if (!fields.count(name))
            return false;
        calls.push_back("focus " + name);
        return true;
    }
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
