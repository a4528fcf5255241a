#include "platform/download.h"

namespace kr::os
{

namespace
{

bool ParseNumber(const std::string& text, size_t& pos, uint64_t* value)
{
    size_t start = pos;
    uint64_t v = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
    {
        if (pos - start >= 19)
            return false;
        v = v * 10 + static_cast<uint64_t>(text[pos] - '0');
        ++pos;
    }
    if (pos == start)
        return false;
    *value = v;
    return true;
}

} // namespace

bool ParseContentRange(const std::string& value, RemoteFileInfo& info)
{
    // "bytes 0-499/1234", "bytes 0-499/*" or "bytes */1234".
    size_t pos = 0;
    while (pos < value.size() && value[pos] == ' ')
        ++pos;
    if (value.compare(pos, 6, "bytes ") != 0)
        return false;
    pos += 6;
    while (pos < value.size() && value[pos] == ' ')
        ++pos;
    RemoteFileInfo parsed = info;
    if (pos < value.size() && value[pos] == '*')
    {
        ++pos;
        parsed.rangeFirst = parsed.rangeLast = 0;
        parsed.hasContentRange = true;
    }
    else
    {
        if (!ParseNumber(value, pos, &parsed.rangeFirst) || pos >= value.size() || value[pos] != '-')
            return false;
        ++pos;
        if (!ParseNumber(value, pos, &parsed.rangeLast) || parsed.rangeLast < parsed.rangeFirst)
            return false;
        parsed.hasContentRange = true;
    }
    if (pos >= value.size() || value[pos] != '/')
        return false;
    ++pos;
    parsed.hasCompleteLength = false;
    parsed.completeLength = 0;
    if (pos < value.size() && value[pos] == '*')
        ++pos;
    else if (!ParseNumber(value, pos, &parsed.completeLength))
        return false;
    else
        parsed.hasCompleteLength = true;
    while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\r' || value[pos] == '\n'))
        ++pos;
    if (pos != value.size())
        return false;
    if (parsed.hasCompleteLength && parsed.rangeLast != 0 && parsed.rangeLast >= parsed.completeLength)
        return false;
    info = parsed;
    return true;
}

} // namespace kr::os
