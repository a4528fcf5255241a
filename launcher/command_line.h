#pragma once
#include <string>
#include <deque>

// The launcher's option table: blank-separated tokens, options of the form -name=value.
class CKrCommandLine
{
public:
    // Cuts at blanks (no quoting) and expands a "uri" option unless "uriname" is already there.
    void Parse(const std::string& commandLine);
    // Value of the first option named `name` (ASCII case ignored); null when there is none. The
    // pointer stays valid while the table lives and is not changed.
    const char* GetValue(const std::string& name) const;
    bool Has(const std::string& name) const { return GetValue(name) != nullptr; }
    // Appends -uriname=<scheme> and one option per name/value pair of the URI's query whose name
    // is a session option (IsLinkOption); other pairs are dropped.
    void ExpandUri(const std::string& uri);
    // sid, customer_id, language_code and uriStart (ASCII case ignored).
    static bool IsLinkOption(const std::string& name);

    const std::deque<std::string>& Tokens() const { return m_tokens; }
    size_t Count() const { return m_tokens.size(); }

private:
    // A deque keeps returned value pointers valid when the URI expansion appends tokens.
    std::deque<std::string> m_tokens;
};
