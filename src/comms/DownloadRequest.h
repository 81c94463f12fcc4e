#pragma once
// A plain file download from a given URL: service "Download_File", no body, verb "GET" unless one is
// configured for "Download_File" or under "Defaults". Described as "Download_File <last URL segment>".

#include "comms/WebApiRequest.h"

#include <string>

class DownloadRequest : public WebApiRequest
{
public:
    // A null configUtil takes the module's. The URL is kept as given.
    DownloadRequest(IConfigUtil* configUtil, const std::wstring& url);
};
