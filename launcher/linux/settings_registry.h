#pragma once
// The launcher's registry port on Linux: the few keys the launcher keeps under the current user, in
// one small text file (under $XDG_CONFIG_HOME). Keys and value names compare without ASCII case, as
// the Windows registry does.
#include "launcher/ports.h"

#include <map>
#include <string>

class CKrSettingsRegistry : public IKrRegistryPort
{
public:
    explicit CKrSettingsRegistry(std::string file);

    uint32_t OpenKey(const std::string& key, Access access) override;
    uint32_t CreateKey(const std::string& key) override;
    uint32_t WriteString(const std::string& key, const std::string& name, const std::string& value) override;
    uint32_t ReadString(const std::string& key, const std::string& name, std::string& value,
                        size_t maxChars) override;

    // The file's text for a set of keys, and back. Parse drops lines it cannot read and reports
    // whether every line was read.
    using Values = std::map<std::string, std::string>;
    using Keys = std::map<std::string, Values>;
    static std::string Format(const Keys& keys);
    static bool Parse(const std::string& text, Keys& keys);

private:
    // Every call reads the file afresh: another copy of the launcher may have written it.
    uint32_t Load(Keys& keys) const;
    uint32_t Save(const Keys& keys) const;

    std::string m_file;
};
