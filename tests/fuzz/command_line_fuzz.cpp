// The launcher's command line, protocol links included: the table holds exactly the blank-separated
// tokens plus the link's expansion (session options only), and every value handed out belongs to an
// option of that name.
#include "launcher/command_line.h"
#include "tests/fuzz/fuzz_check.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

bool SameNameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A value pointer must point just behind "-<name>=" inside one of the table's tokens.
void CheckValue(const CKrCommandLine& line, const std::string& name)
{
    const char* value = line.GetValue(name);
    if (!value)
        return;
    for (const std::string& token : line.Tokens())
    {
        const char* begin = token.c_str();
        if (value >= begin && value <= begin + token.size())
        {
            std::size_t offset = static_cast<std::size_t>(value - begin);
            KR_FUZZ_CHECK(offset == name.size() + 2 && token[0] == '-' && token[offset - 1] == '=');
            KR_FUZZ_CHECK(SameNameIgnoringCase(token.substr(1, name.size()), name));
            return;
        }
    }
    KR_FUZZ_CHECK(!"value outside the table");
}

// Maximal runs of characters not in `delimiters`, written independently of the product's Split.
std::vector<std::string> Pieces(const std::string& text, const std::string& delimiters)
{
    std::vector<std::string> pieces;
    std::string current;
    for (char c : text)
    {
        if (delimiters.find(c) != std::string::npos)
        {
            if (!current.empty())
                pieces.push_back(current);
            current.clear();
        }
        else
        {
            current.push_back(c);
        }
    }
    if (!current.empty())
        pieces.push_back(current);
    return pieces;
}

// What a link may set; anything else in it must not reach the table.
bool IsSessionOption(const std::string& name)
{
    for (const char* allowed : {"sid", "customer_id", "language_code", "uriStart"})
        if (SameNameIgnoringCase(name, allowed))
            return true;
    return false;
}

// The value of the first "-<name>=" token, as the launcher defines it.
bool FindOption(const std::vector<std::string>& tokens, const std::string& name, std::string& value)
{
    for (const std::string& token : tokens)
    {
        std::size_t equals = token.find('=');
        if (token[0] == '-' && equals == name.size() + 1 && SameNameIgnoringCase(token.substr(1, name.size()), name))
        {
            value = token.substr(equals + 1);
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // The text up to the first newline is the command line, the rest a name to look up. A command
    // line is a C string: it ends at the first zero byte.
    std::string input(reinterpret_cast<const char*>(data), size);
    input.resize(input.find('\0') == std::string::npos ? input.size() : input.find('\0'));
    const std::size_t newline = input.find('\n');
    const std::string text = input.substr(0, newline);
    const std::string name = newline == std::string::npos ? "uri" : input.substr(newline + 1);

    CKrCommandLine line;
    line.Parse(text);

    // The blank-separated tokens, then the link's expansion when there is a link and no "uriname".
    std::vector<std::string> expected = Pieces(text, " ");
    std::string uri, ignored;
    if (FindOption(expected, "uri", uri) && !FindOption(expected, "uriname", ignored))
    {
        std::vector<std::string> scheme = Pieces(uri, ":");
        if (!scheme.empty())
        {
            expected.push_back("-uriname=" + scheme[0]);
            std::vector<std::string> pairs = Pieces(uri, "?&=");
            for (std::size_t k = 1; k + 1 < pairs.size(); k += 2)
                if (IsSessionOption(pairs[k]))
                    expected.push_back("-" + pairs[k] + "=" + pairs[k + 1]);
        }
    }
    KR_FUZZ_CHECK(std::vector<std::string>(line.Tokens().begin(), line.Tokens().end()) == expected);

    CheckValue(line, name);
    CheckValue(line, "uri");
    CheckValue(line, "uriname");

    // Expanding a value of the table itself: the appends must not invalidate the source.
    if (const char* own = line.GetValue("uri"))
        line.ExpandUri(own);
    return 0;
}
