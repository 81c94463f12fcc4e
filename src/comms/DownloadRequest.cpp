#include "comms/DownloadRequest.h"

DownloadRequest::DownloadRequest(IConfigUtil* configUtil, const std::wstring& url)
    : WebApiRequest(configUtil, std::wstring(), nullptr, kDownloadService, UrlParameterMap(), std::wstring())
{
    AssignUrl(url);
}
