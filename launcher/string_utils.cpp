#include "launcher/string_utils.h"

std::vector<std::string> Split(const std::string& text, const std::string& delimiters)
{
    std::vector<std::string> pieces;
    size_t start = text.find_first_not_of(delimiters);
    while (start != std::string::npos)
    {
        size_t end = text.find_first_of(delimiters, start);
        pieces.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = text.find_first_not_of(delimiters, end);
    }
    return pieces;
}

bool GetUrlParameter(const std::string& name, const std::string& url, std::string& value)
{
    value.clear();
    size_t at = url.find(name + "=");
    if (at == std::string::npos)
        return false;
    size_t begin = at + name.size() + 1;
    size_t end = url.find('&', begin);
    value = url.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    return true;
}

std::string RemoveBlanks(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
    {
        if (c != ' ')
            out += c;
    }
    return out;
}

std::string UnsignedToText(uint32_t number)
{
    return std::to_string(number);
}

bool ParseUnsigned32(const std::string& text, uint32_t& number)
{
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t value = 0;
    for (char c : text)
    {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFull)
        return false;
    number = static_cast<uint32_t>(value);
    return true;
}

bool EndsWithFirstOccurrence(const std::string& text, const std::string& tail)
{
    if (tail.size() > text.size())
        return false;
    size_t at = text.find(tail);
    return at != std::string::npos && at == text.size() - tail.size();
}
