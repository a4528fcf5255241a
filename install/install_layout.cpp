#include "install/install_layout.h"

#include <cstring>

void CKrInstallLayout::Configure(const std::string& installDir, const std::string& packageName)
{
    m_installDir = installDir;
    m_packageName = packageName;
}

std::string CKrInstallLayout::PackageName(int index) const
{
    if (index == 0)
        return m_packageName + ".zip";
    return m_packageName + "_" + std::to_string(index) + ".zip";
}

std::string CKrInstallLayout::MarkerPath(int index) const
{
    if (index == 0)
        return m_installDir + m_packageName + ".install";
    return m_installDir + m_packageName + "_" + std::to_string(index) + ".install";
}

std::string CKrInstallLayout::InfoPath(const std::string& stagedPath) const
{
    std::string staging = StagingDir();
    if (stagedPath.compare(0, staging.size(), staging) == 0)
        return staging + "info\\" + stagedPath.substr(staging.size());
    return stagedPath + ".krinfo";
}

bool CKrInstallLayout::IsStagingName(const std::string& name)
{
    size_t n = std::strlen(kStagingSuffix);
    if (name.size() <= n)
        return false;
    for (size_t i = 0; i < n; ++i)
    {
        char c = name[name.size() - n + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kStagingSuffix[i])
            return false;
    }
    return true;
}
