#include "launcher/command_line.h"

#include "launcher/string_utils.h"

#include <cctype>

namespace {

bool NameMatches(const std::string& token, size_t equals, const std::string& name)
{
    if (equals - 1 != name.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i)
    {
        if (std::tolower(static_cast<unsigned char>(token[i + 1])) !=
            std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    }
    return true;
}

// The only options a link may carry: what the web site hands over about the session. Servers,
// paths, programs and the restart flag stay with the command line, or any page could name them.
const char* const kLinkOptions[] = {"sid", "customer_id", "language_code", "uriStart"};

bool IsLinkOption(const std::string& name)
{
    for (const char* allowed : kLinkOptions)
    {
        const std::string token = "-" + name + "=";
        if (NameMatches(token, token.size() - 1, allowed))
            return true;
    }
    return false;
}

} // namespace

bool CKrCommandLine::IsLinkOption(const std::string& name)
{
    return ::IsLinkOption(name);
}

void CKrCommandLine::Parse(const std::string& commandLine)
{
    std::vector<std::string> tokens = Split(commandLine, " ");
    m_tokens.assign(tokens.begin(), tokens.end());
    const char* uri = GetValue("uri");
    if (uri && !GetValue("uriname"))
        ExpandUri(uri);
}

const char* CKrCommandLine::GetValue(const std::string& name) const
{
    for (const std::string& token : m_tokens)
    {
        if (token.empty() || token[0] != '-')
            continue;
        size_t equals = token.find('=');
        if (equals == std::string::npos)
            continue;
        if (NameMatches(token, equals, name))
            return token.c_str() + equals + 1;
    }
    return nullptr;
}

void CKrCommandLine::ExpandUri(const std::string& uri)
{
    // Copy first: `uri` may point into a token of this table, which the appends can move.
    const std::string source = uri;
    std::vector<std::string> scheme = Split(source, ":");
    if (scheme.empty())
        return;
    m_tokens.push_back("-uriname=" + scheme[0]);
    std::vector<std::string> pieces = Split(source, "?&=");
    for (size_t k = 1; k + 1 < pieces.size(); k += 2)
    {
        if (::IsLinkOption(pieces[k]))
            m_tokens.push_back("-" + pieces[k] + "=" + pieces[k + 1]);
    }
}
