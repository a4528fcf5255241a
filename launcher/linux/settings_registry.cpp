#include "launcher/linux/settings_registry.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr const char* kHeader = "# quorvale-launcher settings";
// Far beyond what the launcher writes; a larger file is not ours.
constexpr std::streamsize kMaxFileBytes = 1 << 20;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorWriteFault = 29;

std::string Lower(const std::string& text)
{
    std::string lower = text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text)
    {
        switch (c)
        {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\0': out += "\\0"; break;
        default: out += c; break;
        }
    }
    return out;
}

bool Unescape(const std::string& text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] != '\\')
        {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i])
        {
        case '\\': out += '\\'; break;
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case '0': out += '\0'; break;
        default: return false;
        }
    }
    return true;
}

// Fields of one line, split at tabs (escaped text holds none).
std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;)
    {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

uint32_t ErrnoCode(int error)
{
    switch (error)
    {
    case ENOENT:
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kKrErrorAccessDenied;
    default: return kErrorWriteFault;
    }
}

} // namespace

CKrSettingsRegistry::CKrSettingsRegistry(std::string file) : m_file(std::move(file)) {}

std::string CKrSettingsRegistry::Format(const Keys& keys)
{
    std::string text = std::string(kHeader) + "\n";
    for (const auto& key : keys)
    {
        text += "K\t" + Escape(key.first) + "\n";
        for (const auto& value : key.second)
            text += "V\t" + Escape(key.first) + "\t" + Escape(value.first) + "\t" + Escape(value.second) + "\n";
    }
    return text;
}

bool CKrSettingsRegistry::Parse(const std::string& text, Keys& keys)
{
    keys.clear();
    bool clean = true;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
    {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields = Fields(line);
        std::string key;
        std::string name;
        std::string value;
        if (fields[0] == "K" && fields.size() == 2 && Unescape(fields[1], key) && !key.empty())
            keys[Lower(key)];
        else if (fields[0] == "V" && fields.size() == 4 && Unescape(fields[1], key) && !key.empty() &&
                 Unescape(fields[2], name) && Unescape(fields[3], value))
            keys[Lower(key)][Lower(name)] = value;
        else
            clean = false;
    }
    return clean;
}

uint32_t CKrSettingsRegistry::Load(Keys& keys) const
{
    keys.clear();
    struct stat info;
    if (stat(m_file.c_str(), &info) != 0)
        return errno == ENOENT ? kKrErrorSuccess : ErrnoCode(errno);
    std::ifstream file(m_file, std::ios::binary);
    if (!file)
        return kKrErrorAccessDenied;
    std::string text(static_cast<size_t>(kMaxFileBytes) + 1, '\0');
    file.read(&text[0], kMaxFileBytes + 1);
    if (file.bad())
        return kErrorInvalidData;
    text.resize(static_cast<size_t>(file.gcount()));
    if (text.size() > static_cast<size_t>(kMaxFileBytes))
        return kErrorInvalidData;
    // Damaged lines are left out; what could be read still counts.
    Parse(text, keys);
    return kKrErrorSuccess;
}

uint32_t CKrSettingsRegistry::Save(const Keys& keys) const
{
    // The XDG rule: missing folders on the way are made, readable by the user only.
    for (size_t slash = m_file.find('/', 1); slash != std::string::npos; slash = m_file.find('/', slash + 1))
    {
        if (mkdir(m_file.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST)
            return ErrnoCode(errno);
    }
    // A crash while writing must never leave half a file: write beside it, then rename.
    const std::string temporary = m_file + ".tmp";
    const std::string text = Format(keys);
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return ErrnoCode(errno);
    size_t written = 0;
    while (written < text.size())
    {
        ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            const int error = errno;
            close(fd);
            unlink(temporary.c_str());
            return ErrnoCode(error);
        }
        written += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0)
    {
        const int error = errno;
        unlink(temporary.c_str());
        return ErrnoCode(error);
    }
    if (rename(temporary.c_str(), m_file.c_str()) != 0)
    {
        const int error = errno;
        unlink(temporary.c_str());
        return ErrnoCode(error);
    }
    return kKrErrorSuccess;
}

uint32_t CKrSettingsRegistry::OpenKey(const std::string& key, Access)
{
    Keys keys;
    if (uint32_t error = Load(keys))
        return error;
    return keys.count(Lower(key)) ? kKrErrorSuccess : kKrErrorFileNotFound;
}

uint32_t CKrSettingsRegistry::CreateKey(const std::string& key)
{
    Keys keys;
    if (uint32_t error = Load(keys))
        return error;
    if (keys.count(Lower(key)))
        return kKrErrorSuccess;
    keys[Lower(key)];
    return Save(keys);
}

uint32_t CKrSettingsRegistry::WriteString(const std::string& key, const std::string& name,
                                          const std::string& value)
{
    Keys keys;
    if (uint32_t error = Load(keys))
        return error;
    auto found = keys.find(Lower(key));
    if (found == keys.end())
        return kKrErrorFileNotFound;
    found->second[Lower(name)] = value;
    return Save(keys);
}

uint32_t CKrSettingsRegistry::ReadString(const std::string& key, const std::string& name, std::string& value,
                                         size_t maxChars)
{
    Keys keys;
    if (uint32_t error = Load(keys))
        return error;
    auto found = keys.find(Lower(key));
    if (found == keys.end())
        return kKrErrorFileNotFound;
    auto entry = found->second.find(Lower(name));
    if (entry == found->second.end())
        return kKrErrorFileNotFound;
    // As a REG_SZ read: the text ends at its first zero.
    std::string text = entry->second.substr(0, entry->second.find('\0'));
    value = text.substr(0, maxChars);
    return kKrErrorSuccess;
}
