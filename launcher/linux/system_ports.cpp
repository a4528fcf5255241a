#include "launcher/linux/system_ports.h"

#include "platform/files.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{

constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorInvalidName = 123;
constexpr const char* kRuntimeLauncherVariable = "KR_RUNTIME_LAUNCHER";
constexpr const char* kDefaultRuntimeLauncher = "wine";

uint32_t ErrnoCode(int error)
{
    switch (error)
    {
    case ENOENT:
    case ENOTDIR: return kErrorPathNotFound;
    case EEXIST: return kKrErrorAlreadyExists;
    case EACCES:
    case EPERM:
    case EROFS: return kKrErrorAccessDenied;
    default: return kErrorWriteFault;
    }
}

// Starts argv[0] (searched on PATH) in `directory` without waiting; a thread reaps it.
bool Spawn(std::vector<std::string> args, const std::string& directory)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return true;
}

std::string Getenv(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string XdgHome(const char* variable, const char* fallback)
{
    // The XDG rule: a relative value is invalid and ignored.
    const std::string value = Getenv(variable);
    if (!value.empty() && value[0] == '/')
        return value;
    const std::string home = Getenv("HOME");
    return home.empty() ? std::string() : home + fallback;
}

// Exec's quoting: inside double quotes '"', '`', '$' and '\' take a backslash; the key's string
// escapes then double every backslash, and '%' is written "%%".
std::string QuoteExec(const std::string& path)
{
    std::string quoted = "\"";
    for (char c : path)
    {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (char c : quoted)
    {
        if (c == '\\')
            value += "\\\\";
        else if (c == '%')
            value += "%%";
        else
            value += c;
    }
    return value;
}

} // namespace

std::vector<std::string> CKrLinuxShell::SplitParameters(const std::string& parameters)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start < parameters.size())
    {
        while (start < parameters.size() && parameters[start] == ' ')
            ++start;
        if (start == parameters.size())
            break;
        size_t next = parameters.find(" -", start);
        size_t end = next == std::string::npos ? parameters.size() : next;
        // Blanks before the next piece belong to no piece.
        size_t last = end;
        while (last > start && parameters[last - 1] == ' ')
            --last;
        pieces.push_back(parameters.substr(start, last - start));
        start = end;
    }
    return pieces;
}

bool CKrLinuxShell::IsWebUrl(const std::string& url)
{
    auto startsWith = [&url](const char* scheme)
    {
        const size_t n = std::strlen(scheme);
        if (url.size() <= n)
            return false;
        for (size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i])
                return false;
        return true;
    };
    return startsWith("http://") || startsWith("https://");
}

void CKrLinuxShell::StartProgram(const std::string& file, const std::string& parameters,
                                 const std::string& directory)
{
    const std::string dir = kr::os::NativePath(directory);
    std::string program = kr::os::NativePath(file);
    if (!program.empty() && program[0] != '/' && !dir.empty())
        program = dir + (dir.back() == '/' ? "" : "/") + program;
    std::string launcher = Getenv(kRuntimeLauncherVariable);
    if (launcher.empty())
        launcher = kDefaultRuntimeLauncher;
    std::vector<std::string> args{launcher, program};
    for (std::string& piece : SplitParameters(parameters))
        args.push_back(std::move(piece));
    // As with ShellExecuteA, the outcome is not reported.
    Spawn(std::move(args), dir);
}

void CKrLinuxShell::OpenUrl(const std::string& url)
{
    // Anything else (file:, javascript:, a custom scheme) could start a local program.
    if (!IsWebUrl(url))
        return;
    Spawn({"xdg-open", url}, "");
}

std::string CKrXdgFolders::ProgramFilesFolder()
{
    return std::string();
}

void CKrXdgFolders::DataFolders(std::string& shared, std::string& user)
{
    user = kr::linux_host::DataHome();
    if (!user.empty() && !kr::os::MakeDirectories(user))
        user.clear();
    shared = user;
}

bool CKrXdgFolders::LongPathName(const std::string& path, std::string& longPath)
{
    const std::string native = kr::os::NativePath(path);
    char resolved[PATH_MAX];
    if (!realpath(native.c_str(), resolved))
        return false;
    longPath = resolved;
    // As GetLongPathNameA: a trailing separator stays.
    if (!native.empty() && native.back() == '/' && longPath.back() != '/')
        longPath += '/';
    return true;
}

uint32_t CKrXdgFolders::FileAttributes(const std::string& path)
{
    kr::os::FileInfo info;
    if (path.empty() || !kr::os::GetFileInfo(path, info))
        return kKrInvalidAttributes;
    return info.attributes;
}

uint32_t CKrXdgFolders::MakeDirectory(const std::string& path)
{
    if (mkdir(kr::os::NativePath(path).c_str(), 0755) == 0)
        return kKrErrorSuccess;
    return ErrnoCode(errno);
}

namespace kr::linux_host
{

std::string ConfigHome()
{
    return XdgHome("XDG_CONFIG_HOME", "/.config");
}

std::string DataHome()
{
    return XdgHome("XDG_DATA_HOME", "/.local/share");
}

std::string DesktopEntry(const std::string& executable)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quorvale Online\n"
           "Comment=URL:Quorvale Online Protocol\n"
           "Exec=" +
           QuoteExec(executable) +
           " -uri=%u\n"
           "MimeType=x-scheme-handler/quorvaleonline;\n"
           "NoDisplay=true\n"
           "Terminal=false\n";
}

int RegisterDesktopEntry(const std::string& file, const std::string& executable, uint32_t& error)
{
    error = kKrErrorSuccess;
    struct stat info;
    // Whatever is there (even a broken entry) is the player's or an earlier copy's: left alone.
    if (lstat(file.c_str(), &info) == 0)
        return 1;
    if (executable.empty() || executable.find_first_of("\n\r") != std::string::npos)
    {
        error = kErrorInvalidName;
        return 2;
    }
    const size_t slash = file.rfind('/');
    if (slash != std::string::npos && slash > 0 && !kr::os::MakeDirectories(file.substr(0, slash)))
    {
        error = kErrorPathNotFound;
        return 2;
    }
    const std::string temporary = file + ".tmp";
    const std::string text = DesktopEntry(executable);
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        error = ErrnoCode(errno);
        return 2;
    }
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int writeErrno = errno;
    if (close(fd) != 0 || !written)
    {
        error = ErrnoCode(written ? errno : writeErrno);
        unlink(temporary.c_str());
        return 2;
    }
    // link() fails when the entry appeared meanwhile: never replace one.
    if (link(temporary.c_str(), file.c_str()) != 0)
    {
        const int linkErrno = errno;
        unlink(temporary.c_str());
        if (linkErrno == EEXIST)
            return 1;
        error = ErrnoCode(linkErrno);
        return 2;
    }
    unlink(temporary.c_str());
    return 0;
}

} // namespace kr::linux_host
