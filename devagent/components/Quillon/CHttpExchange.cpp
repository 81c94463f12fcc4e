#include "CHttpExchange.h"

#include "CFaults.h"
#include "WinHttp.h"
#include "WireText.h"
#include "host/ICommsRequest.h"
#include "platform/TextUtil.h"

#include <new>

namespace
{

constexpr wchar_t kDefaultUserAgent[] = L"Quillon";
constexpr DWORD kChunk = 64 * 1024;
constexpr DWORD kRelaxedChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                 SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;

// How one route reaches the server.
struct ResolvedRoute
{
    bool named = false;
    std::wstring proxy;
    std::wstring bypass;
    std::wstring user;
    std::wstring password;
    CProxySetting report;
};

struct GlobalText
{
    LPWSTR text = nullptr;
    ~GlobalText()
    {
        if (text != nullptr)
            ::GlobalFree(text);
    }
    std::wstring Take() const { return text != nullptr ? std::wstring(text) : std::wstring(); }
};

void UseProxyInfo(const WINHTTP_PROXY_INFO& info, ResolvedRoute& resolved)
{
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy != nullptr && *info.lpszProxy != 0)
    {
        resolved.named = true;
        resolved.proxy = info.lpszProxy;
        resolved.bypass = info.lpszProxyBypass != nullptr ? info.lpszProxyBypass : L"";
    }
}

DWORD AskAutoProxy(const std::wstring& url, const wchar_t* pacUrl, ResolvedRoute& resolved)
{
    CInternetHandle session(::WinHttpOpen(kDefaultUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                          WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        return ::GetLastError();
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (pacUrl != nullptr && *pacUrl != 0)
    {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = pacUrl;
    }
    else
    {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (!::WinHttpGetProxyForUrl(session.Get(), url.c_str(), &options, &info))
        return ::GetLastError();
    GlobalText proxy{info.lpszProxy};
    GlobalText bypass{info.lpszProxyBypass};
    UseProxyInfo(info, resolved);
    return ERROR_SUCCESS;
}

DWORD Resolve(const ProxyRoute& route, const std::wstring& url, ResolvedRoute& resolved)
{
    resolved = ResolvedRoute();
    switch (route.kind)
    {
    case ProxyRoute::EKind::Direct:
        resolved.report = CProxySetting(0, L"", L"", L"", L"", L"", false, route.fallback);
        return ERROR_SUCCESS;
    case ProxyRoute::EKind::Explicit:
        resolved.named = true;
        resolved.proxy = route.proxies;
        resolved.user = route.user;
        resolved.password = route.password;
        resolved.report = CProxySetting(kProxyModeExplicit, route.proxies, route.user, route.password, route.reserved,
                                        L"", false, route.fallback);
        return ERROR_SUCCESS;
    case ProxyRoute::EKind::Pac:
    case ProxyRoute::EKind::Wpad:
    {
        const bool pac = route.kind == ProxyRoute::EKind::Pac;
        if (const DWORD error = AskAutoProxy(url, pac ? route.pacUrl.c_str() : nullptr, resolved);
            error != ERROR_SUCCESS)
            return error;
        resolved.user = route.user;
        resolved.password = route.password;
        resolved.report = CProxySetting(kProxyModeWpad, resolved.proxy, route.user, route.password, route.reserved,
                                        route.pacUrl, !pac, route.fallback);
        return ERROR_SUCCESS;
    }
    case ProxyRoute::EKind::WinHttp:
    {
        WINHTTP_PROXY_INFO info{};
        if (!::WinHttpGetDefaultProxyConfiguration(&info))
            return ::GetLastError();
        GlobalText proxy{info.lpszProxy};
        GlobalText bypass{info.lpszProxyBypass};
        UseProxyInfo(info, resolved);
        break;
    }
    case ProxyRoute::EKind::Ie:
    {
        WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
        if (!::WinHttpGetIEProxyConfigForCurrentUser(&ie))
            return ::GetLastError();
        GlobalText pacUrl{ie.lpszAutoConfigUrl};
        GlobalText proxy{ie.lpszProxy};
        GlobalText bypass{ie.lpszProxyBypass};
        bool found = false;
        if (ie.fAutoDetect || ie.lpszAutoConfigUrl != nullptr)
            found = AskAutoProxy(url, ie.lpszAutoConfigUrl, resolved) == ERROR_SUCCESS;
        if (!found && ie.lpszProxy != nullptr && *ie.lpszProxy != 0)
        {
            resolved.named = true;
            resolved.proxy = ie.lpszProxy;
            resolved.bypass = ie.lpszProxyBypass != nullptr ? ie.lpszProxyBypass : L"";
        }
        break;
    }
    }
    resolved.report = resolved.named
                          ? CProxySetting(kProxyModeExplicit, resolved.proxy, L"", L"", L"", L"", false, route.fallback)
                          : CProxySetting(0, L"", L"", L"", L"", L"", false, route.fallback);
    return ERROR_SUCCESS;
}

// What an attempt does from WinHTTP's callback, between connecting and sending.
struct ExchangeWatch
{
    // The server certificate check of a relaxed attempt, made when the connection is up and nothing was sent.
    const std::vector<std::wstring>* trusted = nullptr;
    // Proxy credentials that went with the CONNECT come off the request once the tunnel is up.
    bool tunnelCredentials = false;
    CInternetHandle* request = nullptr;
    bool rejected = false;
};

void CheckServerCertificate(HINTERNET handle, ExchangeWatch& watch)
{
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof(certificate);
    bool trusted = false;
    if (::WinHttpQueryOption(handle, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) && certificate != nullptr)
    {
        trusted = IsTrustedCertificate(certificate, *watch.trusted);
        ::CertFreeCertificateContext(certificate);
    }
    if (!trusted)
    {
        // Closing the request from its own callback cancels the send on Windows; Wine's WinHTTP sends it all the
        // same, which is why a probe that carries nothing comes first (ProbeCertificate).
        watch.rejected = true;
        ::WinHttpCloseHandle(watch.request->Release());
    }
}

void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID, DWORD)
{
    if (context == 0)
        return;
    auto& watch = *reinterpret_cast<ExchangeWatch*>(context);
    if (status == WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER && watch.tunnelCredentials)
        ::WinHttpAddRequestHeaders(handle, L"Proxy-Authorization:", static_cast<DWORD>(-1),
                                   WINHTTP_ADDREQ_FLAG_REPLACE);
    else if (status == WINHTTP_CALLBACK_STATUS_SENDING_REQUEST && watch.trusted != nullptr)
        CheckServerCertificate(handle, watch);
}

bool SetDword(HINTERNET handle, DWORD option, DWORD value)
{
    return ::WinHttpSetOption(handle, option, &value, sizeof(value)) != FALSE;
}

DWORD QueryStatus(HINTERNET request, DWORD& status)
{
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

void QueryAnswer(HINTERNET request, HttpOutcome& outcome)
{
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                          WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > 0)
    {
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        if (::WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, &text[0],
                                  &size, WINHTTP_NO_HEADER_INDEX))
        {
            text.resize(size / sizeof(wchar_t));
            outcome.rawHeaders = std::move(text);
        }
    }
    SYSTEMTIME date{};
    size = sizeof(date);
    if (::WinHttpQueryHeaders(request, WINHTTP_QUERY_DATE | WINHTTP_QUERY_FLAG_SYSTEMTIME, WINHTTP_HEADER_NAME_BY_INDEX,
                              &date, &size, WINHTTP_NO_HEADER_INDEX))
        outcome.time = date;
    else
        ::GetSystemTime(&outcome.time);
}

DWORD SendBody(HINTERNET request, const HttpExchangeSpec& plan, DWORD_PTR context, bool& local)
{
    if (plan.bodyFile.empty())
    {
        if (plan.bodyLength > 0xFFFFFFFFu)
        {
            local = true;
            return ERROR_FILE_TOO_LARGE;
        }
        const DWORD length = static_cast<DWORD>(plan.bodyLength);
        if (!::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, const_cast<void*>(plan.body), length,
                                  length, context))
            return ::GetLastError();
        return ERROR_SUCCESS;
    }
    CFileHandle file(::CreateFileW(plan.bodyFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.Get(), &size))
    {
        local = true;
        return ::GetLastError();
    }
    if (size.QuadPart > 0xFFFFFFFFll)
    {
        local = true;
        return ERROR_FILE_TOO_LARGE;
    }
    const DWORD total = static_cast<DWORD>(size.QuadPart);
    if (!::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, total, context))
        return ::GetLastError();
    std::vector<BYTE> chunk(kChunk);
    for (DWORD sent = 0; sent < total;)
    {
        DWORD read = 0;
        if (!::ReadFile(file.Get(), chunk.data(), kChunk, &read, nullptr) || read == 0)
        {
            local = true;
            return read == 0 ? static_cast<DWORD>(ERROR_HANDLE_EOF) : ::GetLastError();
        }
        DWORD written = 0;
        if (!::WinHttpWriteData(request, chunk.data(), read, &written))
            return ::GetLastError();
        sent += read;
    }
    return ERROR_SUCCESS;
}

DWORD ReadToMemory(HINTERNET request, std::vector<BYTE>& content)
{
    for (;;)
    {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request, &available))
            return ::GetLastError();
        if (available == 0)
            return ERROR_SUCCESS;
        const size_t at = content.size();
        content.resize(at + available);
        DWORD read = 0;
        if (!::WinHttpReadData(request, content.data() + at, available, &read))
            return ::GetLastError();
        content.resize(at + read);
        if (read == 0)
            return ERROR_SUCCESS;
    }
}

// The body goes to a file aside first, so that a broken transfer never leaves half a file in place. Wine's
// WinHTTP ends a body cut short by the server like a whole one: the announced length tells them apart.
DWORD ReadToFile(HINTERNET request, const std::wstring& path, bool& local)
{
    const std::wstring aside = path + L".part";
    DWORD announced = 0, size = sizeof(announced);
    const bool lengthKnown =
        ::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &announced, &size, WINHTTP_NO_HEADER_INDEX);
    unsigned long long received = 0;
    {
        CFileHandle file(
            ::CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
        {
            local = true;
            return ::GetLastError();
        }
        std::vector<BYTE> chunk(kChunk);
        for (;;)
        {
            DWORD read = 0;
            if (!::WinHttpReadData(request, chunk.data(), kChunk, &read))
            {
                const DWORD error = ::GetLastError();
                file.Reset();
                ::DeleteFileW(aside.c_str());
                return error;
            }
            if (read == 0)
                break;
            received += read;
            DWORD written = 0;
            if (!::WriteFile(file.Get(), chunk.data(), read, &written, nullptr) || written != read)
            {
                const DWORD error = ::GetLastError();
                file.Reset();
                ::DeleteFileW(aside.c_str());
                local = true;
                return error != ERROR_SUCCESS ? error : static_cast<DWORD>(ERROR_WRITE_FAULT);
            }
        }
    }
    if (lengthKnown && received != announced)
    {
        ::DeleteFileW(aside.c_str());
        return ERROR_WINHTTP_CONNECTION_ERROR;
    }
    if (!::MoveFileExW(aside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
    {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(aside.c_str());
        local = true;
        return error;
    }
    return ERROR_SUCCESS;
}

// One try over one route. local: the failure is ours (a file), so no other route would do better.
DWORD Attempt(const HttpExchangeSpec& plan, const ResolvedRoute& route, const std::vector<std::wstring>* trusted,
              HttpOutcome& outcome, bool& local)
{
    const HttpTarget& target = plan.target;
    // The proxy is a setting of the session: Wine ignores it on a request handle.
    CInternetHandle session(
        ::WinHttpOpen(plan.userAgent.empty() ? kDefaultUserAgent : plan.userAgent.c_str(),
                      route.named ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY,
                      route.named ? route.proxy.c_str() : WINHTTP_NO_PROXY_NAME,
                      route.named && !route.bypass.empty() ? route.bypass.c_str() : WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        return ::GetLastError();
    CInternetHandle connection(::WinHttpConnect(session.Get(), target.host.c_str(), target.port, 0));
    if (!connection)
        return ::GetLastError();
    DWORD openFlags = target.secure ? WINHTTP_FLAG_SECURE : 0;
    if (plan.flags & kRequestReload)
        openFlags |= WINHTTP_FLAG_REFRESH;
    CInternetHandle request(::WinHttpOpenRequest(connection.Get(), plan.verb.c_str(), target.pathAndQuery.c_str(),
                                                 nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, openFlags));
    if (!request)
        return ::GetLastError();

    DWORD features = 0;
    if (plan.flags & kRequestNoCookies)
        features |= WINHTTP_DISABLE_COOKIES;
    if (plan.flags & kRequestNoRedirects)
        features |= WINHTTP_DISABLE_REDIRECTS;
    if ((plan.flags & kRequestNoAutoLogon) &&
        !SetDword(request.Get(), WINHTTP_OPTION_AUTOLOGON_POLICY, WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH))
        return ::GetLastError();

    ExchangeWatch watch;
    watch.request = &request;
    watch.trusted = trusted;
    // Basic credentials for an explicit proxy go with the first request, as most clients send them: a request
    // with a body answered 407 would have to be sent twice. Over HTTPS they are also what makes the CONNECT work
    // under Wine, whose WinHTTP does not hand a proxy's 407 to a CONNECT back (it goes on to the TLS handshake
    // and fails with 12157); they come off once the tunnel is up, so that the server never sees them, and such
    // a tunnel is not kept for another request, which would not pass through that callback. Other schemes, and
    // Windows when it takes the header off before its CONNECT, answer the 407 below.
    const bool proxyCredentials = route.named && !route.user.empty();
    watch.tunnelCredentials = proxyCredentials && target.secure;
    if (watch.tunnelCredentials)
        features |= WINHTTP_DISABLE_KEEP_ALIVE;
    if (proxyCredentials)
    {
        const std::string credentials = WideToUtf8(route.user + L":" + route.password);
        const std::wstring header =
            L"Proxy-Authorization: Basic " + Utf8ToWide(Base64Of(credentials.data(), credentials.size()));
        if (!::WinHttpAddRequestHeaders(request.Get(), header.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD))
            return ::GetLastError();
    }
    // A connection made with the checks relaxed is never kept: Wine's WinHTTP shares kept connections across
    // sessions, and a later request would take it without any check.
    if (trusted != nullptr)
        features |= WINHTTP_DISABLE_KEEP_ALIVE;
    if (features != 0 && !SetDword(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, features))
        return ::GetLastError();
    const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&watch);
    if (trusted != nullptr && !SetDword(request.Get(), WINHTTP_OPTION_SECURITY_FLAGS, kRelaxedChecks))
        return ::GetLastError();
    if ((trusted != nullptr || watch.tunnelCredentials) &&
        ::WinHttpSetStatusCallback(request.Get(), OnStatus,
                                   WINHTTP_CALLBACK_FLAG_SEND_REQUEST | WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER,
                                   0) == WINHTTP_INVALID_STATUS_CALLBACK)
        return ::GetLastError();

    if (!plan.headers.empty())
    {
        std::wstring block;
        for (const auto& [name, value] : plan.headers)
            block += name + L": " + value + L"\r\n";
        if (!::WinHttpAddRequestHeaders(request.Get(), block.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD))
            return ::GetLastError();
    }

    DWORD status = 0;
    for (int round = 0;; ++round)
    {
        const DWORD sent = SendBody(request.Get(), plan, context, local);
        if (watch.rejected)
            return ERROR_WINHTTP_SECURE_FAILURE;
        if (sent != ERROR_SUCCESS)
            return sent;
        if (!::WinHttpReceiveResponse(request.Get(), nullptr))
            return watch.rejected ? static_cast<DWORD>(ERROR_WINHTTP_SECURE_FAILURE) : ::GetLastError();
        if (const DWORD error = QueryStatus(request.Get(), status); error != ERROR_SUCCESS)
            return error;
        if (status != HTTP_STATUS_PROXY_AUTH_REQ || route.user.empty() || round > 0)
            break;
        DWORD supported = 0, first = 0, authTarget = 0;
        if (!::WinHttpQueryAuthSchemes(request.Get(), &supported, &first, &authTarget))
            break;
        const DWORD scheme = (supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                             : (supported & WINHTTP_AUTH_SCHEME_NTLM)    ? WINHTTP_AUTH_SCHEME_NTLM
                             : (supported & WINHTTP_AUTH_SCHEME_BASIC)   ? WINHTTP_AUTH_SCHEME_BASIC
                                                                         : first;
        if (!::WinHttpSetCredentials(request.Get(), WINHTTP_AUTH_TARGET_PROXY, scheme, route.user.c_str(),
                                     route.password.c_str(), nullptr))
            break;
    }

    outcome = HttpOutcome();
    outcome.status = status;
    QueryAnswer(request.Get(), outcome);
    outcome.used = route.report;
    if (plan.downloadPath.empty())
        return ReadToMemory(request.Get(), outcome.content);
    if (status < 200 || status > 299)
        return ERROR_CONTINUE;
    return ReadToFile(request.Get(), plan.downloadPath, local);
}

// Windows refuses a server certificate with 12175; Wine's WinHTTP (GnuTLS underneath) says 12157.
bool IsCertificateRefusal(DWORD error)
{
    return error == ERROR_WINHTTP_SECURE_FAILURE || error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR;
}

// Wine's WinHTTP sends a request even when it is closed from the callback that announces the send, so the
// server certificate is first checked on a request that carries nothing of the caller's: "HEAD /" without
// headers or body. The exchange itself follows only when that certificate is trusted (and is checked again).
DWORD ProbeCertificate(const HttpExchangeSpec& plan, const ResolvedRoute& route,
                       const std::vector<std::wstring>& trusted)
{
    HttpExchangeSpec probe;
    probe.userAgent = plan.userAgent;
    probe.verb = L"HEAD";
    probe.target = plan.target;
    probe.target.pathAndQuery = L"/";
    probe.flags = plan.flags;
    HttpOutcome ignored;
    bool local = false;
    return Attempt(probe, route, &trusted, ignored, local);
}

} // namespace

DWORD ParseTarget(const wchar_t* url, HttpTarget& target)
{
    if (url == nullptr || *url == L'\0')
        return ERROR_INVALID_PARAMETER;
    URL_COMPONENTS parts;
    if (!CrackUrl(url, parts))
        return ::GetLastError();
    if ((parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
        parts.dwHostNameLength == 0)
        return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    HttpTarget parsed;
    parsed.url = url;
    parsed.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    parsed.port = parts.nPort;
    parsed.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    parsed.pathAndQuery.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    // A fragment never goes to the server.
    std::wstring extra(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    extra = extra.substr(0, extra.find(L'#'));
    if (parsed.pathAndQuery.empty())
        parsed.pathAndQuery = L"/";
    parsed.pathAndQuery += extra;
    target = std::move(parsed);
    return ERROR_SUCCESS;
}

DWORD RunExchange(const HttpExchangeSpec& plan, HttpOutcome& outcome)
{
    faults::DelayExchange();
    if (const DWORD error = faults::SendError(); error != ERROR_SUCCESS)
        return error;
    try
    {
        // No routes: one direct connection.
        const ProxyRoutes direct(plan.routes.empty() ? 1 : 0);
        const ProxyRoutes& routes = plan.routes.empty() ? direct : plan.routes;
        const std::vector<std::wstring> trusted =
            plan.target.secure ? plan.trust.For(plan.target.host) : std::vector<std::wstring>();
        DWORD error = ERROR_WINHTTP_CANNOT_CONNECT;
        for (const ProxyRoute& route : routes)
        {
            ResolvedRoute resolved;
            error = Resolve(route, plan.target.url, resolved);
            if (error == ERROR_SUCCESS)
            {
                bool local = false;
                error = Attempt(plan, resolved, nullptr, outcome, local);
                if (IsCertificateRefusal(error) && !trusted.empty())
                {
                    error = ProbeCertificate(plan, resolved, trusted);
                    if (error == ERROR_SUCCESS)
                        error = Attempt(plan, resolved, &trusted, outcome, local);
                }
                if (error == ERROR_SUCCESS || error == ERROR_CONTINUE || local)
                    return error;
            }
            if (!route.fallback)
                break;
        }
        return error;
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
