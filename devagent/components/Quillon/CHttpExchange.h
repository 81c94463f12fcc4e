#pragma once
// One HTTP exchange on WinHTTP: the request goes out through the routes of a proxy list, in order (a route
// that cannot reach the server hands over to the next only when its fallback flag is set), and the answer
// comes back as status, raw headers, time and body (in memory, or written to a file for downloads).

#include "CProxyObjects.h"
#include "CTrustRules.h"

#include <string>
#include <utility>
#include <vector>

struct HttpTarget
{
    std::wstring url;
    std::wstring host;
    WORD port = 0;
    std::wstring pathAndQuery;   // as it goes on the request line; "/" at least
    bool secure = false;
};

// ERROR_SUCCESS, or the reason the URL cannot be requested (not http or https, no host, ...).
DWORD ParseTarget(const wchar_t* url, HttpTarget& target);

using HttpHeaders = std::vector<std::pair<std::wstring, std::wstring>>;

struct HttpExchangeSpec
{
    std::wstring userAgent;
    std::wstring verb;
    HttpTarget target;
    DWORD flags = 0;   // kRequest* bits
    HttpHeaders headers;
    // The body: bytes in memory, or a file's content (bodyFile non-empty).
    const void* body = nullptr;
    size_t bodyLength = 0;
    std::wstring bodyFile;
    ProxyRoutes routes;   // empty: a direct connection
    TrustRules trust;
    // Downloads: the body of a 2xx answer goes to this file, other answers give ERROR_CONTINUE.
    std::wstring downloadPath;
};

struct HttpOutcome
{
    DWORD status = 0;
    std::wstring rawHeaders;
    std::vector<BYTE> content;
    SYSTEMTIME time{};
    CProxySetting used;   // the route that reached the server
};

// ERROR_SUCCESS when the server answered (outcome filled), ERROR_CONTINUE for a download answered with
// another status than 2xx (outcome filled, file untouched), else the error of the last route tried.
DWORD RunExchange(const HttpExchangeSpec& plan, HttpOutcome& outcome);
