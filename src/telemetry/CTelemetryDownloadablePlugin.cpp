#include "telemetry/CTelemetryDownloadablePlugin.h"

#include "host/Trace.h"
#include "platform/Digest.h"

TRACE_UNIT("3b8d5a0e-6f21-4c97-a3e4-0d9b7c15e862");

void CGenericRepositoryDownloadableResource::SetUrl(const std::wstring& url)
{
    m_fullUrl = url;
    const std::size_t scheme = url.find(L"://");
    const std::wstring rest = scheme == std::wstring::npos ? url : url.substr(scheme + 3);
    std::wstring digest;
    if (rest.empty() || Sha256HexOfBuffer(rest.data(), rest.size() * sizeof(wchar_t), digest) != ERROR_SUCCESS)
    {
        m_repositoryUrl = url;
        return;
    }
    m_repositoryUrl = L"http://" + rest.substr(0, rest.find(L'/')) + L"/" + digest;
}

CTelemetryDownloadablePlugin::CTelemetryDownloadablePlugin(const std::wstring& url, const std::wstring& expectedMd5,
                                                           const std::wstring& destination)
    : m_expectedMd5(expectedMd5), m_destination(destination)
{
    CGenericRepositoryDownloadableResource::SetUrl(url);
}

bool CTelemetryDownloadablePlugin::VerifyDownload(const std::wstring& tempPath)
{
    if (Md5OfFileMatches(tempPath, m_expectedMd5))
        return true;
    TRACE_ERROR(kTraceFlagEvents, 10, "downloaded %ls does not match MD5 %ls", GetFullUrl(), m_expectedMd5);
    return false;
}

void CTelemetryDownloadablePlugin::CommitDownload(const std::wstring& tempPath, const std::wstring&)
{
    if (!::MoveFileExW(tempPath.c_str(), m_destination.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
    {
        const DWORD error = ::GetLastError();
        TRACE_ERROR(kTraceFlagEvents, 11, "cannot move %ls to %ls: error %u", tempPath, m_destination, error);
        m_lastError = ERROR_CANNOT_COPY;
        return;
    }
    m_downloaded = true;
}
