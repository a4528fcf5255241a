#include "tools/sample-game/runtime/start_record.h"

#include <cctype>
#include <cstdio>

namespace kr_sample
{

namespace
{

bool SameNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
    {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace

std::string OptionValue(const std::string& commandLine, const std::string& name)
{
    size_t pos = 0;
    while (pos < commandLine.size())
    {
        size_t start = commandLine.find_first_not_of(' ', pos);
        if (start == std::string::npos)
            break;
        size_t end = commandLine.find(' ', start);
        if (end == std::string::npos)
            end = commandLine.size();
        std::string token = commandLine.substr(start, end - start);
        size_t equals = token.find('=');
        if (token[0] == '-' && equals != std::string::npos && SameNoCase(token.substr(1, equals - 1), name))
            return token.substr(equals + 1);
        pos = end;
    }
    return std::string();
}

std::string StartRecordPath(const std::string& userDataPath)
{
    std::string path = userDataPath;
    if (!path.empty() && path.back() != '\\' && path.back() != '/')
        path += '\\';
    return path + "game-start.txt";
}

bool WriteStartRecord(const std::string& path, const std::string& commandLine)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(commandLine.data(), 1, commandLine.size(), file) == commandLine.size() &&
              std::fputc('\n', file) != EOF;
    return std::fclose(file) == 0 && ok;
}

} // namespace kr_sample
