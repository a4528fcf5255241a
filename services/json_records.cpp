#include "services/json_records.h"

#include <cstdint>

namespace {

void AppendEscaped(std::string& out, const std::string& text)
{
    static const char kHex[] = "0123456789abcdef";
    for (char ch : text)
    {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (c)
        {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20)
            {
                out += "\\u00";
                out.push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 15]);
            }
            else
            {
                out.push_back(ch);
            }
        }
    }
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A JSON number, true, false or null: the only texts a raw value may carry unquoted.
bool IsJsonLiteral(const std::string& text)
{
    if (text == "true" || text == "false" || text == "null")
        return true;
    size_t i = 0, n = text.size();
    if (i < n && text[i] == '-')
        ++i;
    if (i >= n || !IsDigit(text[i]))
        return false;
    if (text[i] == '0')
        ++i;
    else
        while (i < n && IsDigit(text[i]))
            ++i;
    if (i < n && text[i] == '.')
    {
        ++i;
        if (i >= n || !IsDigit(text[i]))
            return false;
        while (i < n && IsDigit(text[i]))
            ++i;
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E'))
    {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (i >= n || !IsDigit(text[i]))
            return false;
        while (i < n && IsDigit(text[i]))
            ++i;
    }
    return i == n;
}

void AppendTabs(std::string& out, int depth)
{
    for (int i = 0; i < depth; ++i)
        out.push_back('\t');
}

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80)
    {
        out.push_back(static_cast<char>(cp));
    }
    else if (cp < 0x800)
    {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    else if (cp < 0x10000)
    {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    else
    {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Four hex digits at `pos`, or -1.
long ReadHex4(const std::string& text, size_t pos)
{
    if (pos + 4 > text.size())
        return -1;
    long value = 0;
    for (size_t i = pos; i < pos + 4; ++i)
    {
        int digit = HexValue(text[i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

// Position of the double quote that closes a string whose body starts at `from`; backslash escapes
// are stepped over so that an escaped quote does not end the string early.
size_t FindClosingQuote(const std::string& text, size_t from)
{
    for (size_t i = from; i < text.size(); ++i)
    {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == '"')
            return i;
    }
    return std::string::npos;
}

bool IsTrimmed(char c)
{
    return c == '{' || c == ' ' || c == '"' || c == '\t' || c == '\n' || c == '\r' || c == '}';
}

std::string Trim(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && IsTrimmed(text[begin]))
        ++begin;
    while (end > begin && IsTrimmed(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

void ParseDashForm(const std::string& text, std::map<std::string, std::string>& values)
{
    std::vector<std::string> tokens;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i)
    {
        if (i == text.size() || text[i] == '-' || text[i] == '=')
        {
            if (i > start)
                tokens.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    for (size_t i = 0; i + 1 < tokens.size(); i += 2)
        values[Trim(tokens[i])] = Trim(tokens[i + 1]);
}

void ParseObjectForm(const std::string& text, std::map<std::string, std::string>& values)
{
    static const char kBlanks[] = " \t\n\r";
    static const char kTokenEnd[] = ", \t\n\r{}";
    size_t p = 0;
    for (;;)
    {
        size_t q1 = text.find('"', p);
        if (q1 == std::string::npos)
            return;
        size_t q2 = FindClosingQuote(text, q1 + 1);
        if (q2 == std::string::npos)
            return;
        std::string key = text.substr(q1 + 1, q2 - q1 - 1);
        size_t c = text.find(':', q2);
        if (c == std::string::npos)
            return;
        size_t v = text.find_first_not_of(kBlanks, c + 1);
        if (v == std::string::npos)
            return;

        if (text[v] == '{')
        {
            values[key] = std::string();
            p = v;
        }
        else if (text[v] == '"')
        {
            size_t e = FindClosingQuote(text, v + 1);
            size_t length = e == std::string::npos ? std::string::npos : e - v - 1;
            values[key] = UnescapeJsonString(text.substr(v + 1, length));
            if (e == std::string::npos)
                return;
            p = e + 1;
        }
        else
        {
            size_t e = text.find_first_of(kTokenEnd, v + 1);
            if (e == std::string::npos)
                e = text.size();
            std::string token = text.substr(v, e - v);
            if (token == "true")
                values[key] = "1";
            else if (token == "false")
                values[key] = "0";
            else
                values[key] = token;
            p = e;
        }
    }
}

} // namespace

std::string WriteRecords(const std::vector<KrRequestRecord>& records)
{
    std::string out = "{\n";
    int depth = 1;
    bool opened = false;
    for (size_t i = 0; i < records.size(); ++i)
    {
        const KrRequestRecord& record = records[i];
        if (record.kind == kRecordBeginObject)
        {
            if (i > 0)
                out += ",\n";
            AppendTabs(out, depth);
            out += '"';
            AppendEscaped(out, record.key);
            out += "\": {\n";
            opened = true;
            ++depth;
        }
        else if (record.kind == kRecordEndObject)
        {
            out += '\n';
            AppendTabs(out, depth);
            out += '}';
            --depth;
        }
        else
        {
            if (i > 0 && !opened)
                out += ",\n";
            opened = false;
            AppendTabs(out, depth);
            out += '"';
            AppendEscaped(out, record.key);
            // A raw value that is no JSON literal would let its text add members: quote it instead.
            if (record.kind != kRecordString && IsJsonLiteral(record.value))
            {
                out += "\": ";
                out += record.value;
            }
            else
            {
                out += "\": \"";
                AppendEscaped(out, record.value);
                out += '"';
            }
        }
    }
    out += "\n}\n";
    return out;
}

std::string UnescapeJsonString(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
    {
        char ch = text[i];
        if (ch != '\\')
        {
            out.push_back(ch);
            continue;
        }
        if (++i >= text.size())
            return out;
        switch (text[i])
        {
        case '"': out.push_back('"'); break;
        case '/': out.push_back('/'); break;
        case '\\': out.push_back('\\'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u':
        {
            long unit = ReadHex4(text, i + 1);
            if (unit < 0)
                return out;
            i += 4;
            uint32_t cp = static_cast<uint32_t>(unit);
            // A high surrogate followed by a low one is one character; lone halves stay as they are.
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 2 < text.size() && text[i + 1] == '\\' && text[i + 2] == 'u')
            {
                long low = ReadHex4(text, i + 3);
                if (low >= 0xDC00 && low <= 0xDFFF)
                {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
                    i += 6;
                }
            }
            AppendUtf8(out, cp);
            break;
        }
        default:
            return out;
        }
    }
    return out;
}

void ParseFlat(const std::string& text, std::map<std::string, std::string>& values)
{
    if (text.empty())
        return;
    if (text[0] == '{')
        ParseObjectForm(text, values);
    else if (text[0] == '-')
        ParseDashForm(text, values);
}
