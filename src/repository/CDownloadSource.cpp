#include "repository/CDownloadSource.h"

#include "host/Trace.h"

TRACE_UNIT("4ebb17c7-ff8d-43e7-9d98-e10302f27fcb");

namespace
{

constexpr wchar_t kRepositoryBaseKey[] = L"Communications.Defaults.FileRepositoryBase";

} // namespace

CDownloadSource::CDownloadSource(IConfigUtil* configUtil) : CConfigReader(configUtil)
{
    std::wstring base;
    const DWORD error = m_configUtil->GetValue(kRepositoryBaseKey, base, 0);
    if (error != ERROR_SUCCESS)
    {
        TRACE_WARNING(kTraceFlagEvents, 10, "no file repository base: error %u", error);
        return;
    }
    m_repositoryBase = base;
    TRACE_VERBOSE(kTraceFlagEvents, 11, "file repository base %ls", m_repositoryBase);
}

bool CDownloadSource::ResolveUrl(const std::wstring& fullUrl, const std::wstring& relativePath,
                                 std::wstring& url) const
{
    if (!relativePath.empty() && !m_repositoryBase.empty())
    {
        const bool baseSlash = m_repositoryBase.back() == L'/';
        const bool pathSlash = relativePath.front() == L'/';
        std::wstring joined = m_repositoryBase;
        if (!baseSlash && !pathSlash)
            joined += L'/';
        else if (baseSlash && pathSlash)
            joined.pop_back();
        url = joined + relativePath;
        return true;
    }
    if (fullUrl.empty())
    {
        TRACE_WARNING(kTraceFlagEvents, 12, "no URL for %ls: no repository base and no full URL", relativePath);
        return false;
    }
    url = fullUrl;
    return true;
}
