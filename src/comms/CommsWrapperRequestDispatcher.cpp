#include "comms/CommsWrapperRequestDispatcher.h"

#include "comms/Authorization.h"
#include "comms/ExchangeTrace.h"
#include "host/CConfigHelper.h"
#include "host/CInstalledComponents.h"
#include "host/Trace.h"
#include "network/CProxyConfig.h"
#include "network/CommsObjects.h"
#include "network/ProxyAndTrust.h"

#include <atomic>
#include <stdexcept>

TRACE_UNIT("14ce42c3-7221-46f1-ade9-f4b98093bb29");

namespace
{

constexpr DWORD kAlwaysFlags = kRequestNoCookies | kRequestNoAutoLogon;
constexpr wchar_t kAuthorizationSection[] = L"Communications";
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000;

// Written after every answered send, read by every signed one, on any thread.
std::atomic<std::int64_t> g_serverClockOffset{0};

std::int64_t FileTimeValue(const FILETIME& time)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// UTC now, moved by the server's clock offset; all zero when it does not convert.
SYSTEMTIME RequestTime()
{
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    FILETIME file{};
    if (!::SystemTimeToFileTime(&now, &file))
        return SYSTEMTIME{};
    const std::int64_t moved = FileTimeValue(file) + g_serverClockOffset.load() * kFileTimeUnitsPerSecond;
    if (moved < 0)
        return SYSTEMTIME{};
    const FILETIME movedFile{static_cast<DWORD>(moved & 0xFFFFFFFF), static_cast<DWORD>(moved >> 32)};
    SYSTEMTIME time{};
    if (!::FileTimeToSystemTime(&movedFile, &time))
        return SYSTEMTIME{};
    return time;
}

void UpdateServerClockOffset(const SYSTEMTIME& responseTime)
{
    FILETIME response{};
    if (!::SystemTimeToFileTime(&responseTime, &response))
    {
        TRACE_WARNING(kTraceFlagEvents, 10, "response time does not convert: clock offset kept");
        return;
    }
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    g_serverClockOffset.store((FileTimeValue(response) - FileTimeValue(now)) / kFileTimeUnitsPerSecond);
}

} // namespace

// The component objects of one exchange, all given back when it ends.
class CommsWrapperRequestDispatcher::CExchange
{
public:
    explicit CExchange(ICommsWrapper* comms)
        : m_comms(comms), m_request(nullptr, RequestRelease{comms}), m_proxyUsed(nullptr, ProxyConfigRelease{comms}),
          m_result(nullptr, ResultRelease{comms})
    {
    }

    // Opens the component request with the headers, proxy routes and trust. ERROR_INVALID_DATA when the
    // component opens none.
    DWORD Open(IRequest& request, IConfigUtil* configUtil, bool useProxy)
    {
        m_url = request.GetUrl();
        const std::wstring verb = request.GetVerb();
        const std::wstring userAgent = request.GetUserAgent();
        const DWORD flags = request.GetRequestFlags() | kAlwaysFlags;
        m_request.reset(m_comms->OpenRequest(userAgent.c_str(), m_url.c_str(), verb.c_str(), flags));
        if (!m_request)
        {
            TRACE_ERROR(kTraceFlagEvents, 11, "cannot open a request for %ls %ls", verb, m_url);
            return ERROR_INVALID_DATA;
        }
        HeaderMap headers;
        request.GetHeaders(headers);
        for (const auto& [name, value] : headers)
        {
            if (!m_request->AddHeader(name.c_str(), value.c_str()))
                TRACE_WARNING(kTraceFlagEvents, 12, "header %ls refused for %ls", name, m_url);
        }
        m_settings = AttachProxyAndTrust(*m_request, configUtil, m_comms, useProxy, m_url);
        return ERROR_SUCCESS;
    }

    ICommsRequest& Request() const { return *m_request; }
    const std::wstring& Url() const { return m_url; }

    // A signed send may leave the signature behind; nobody here reads it.
    void ReleaseBuffer() const { const CCommsBuffer buffer(m_request->TakeBuffer(), BufferRelease{m_comms}); }

    // Asks which route the exchange took, and tells report when there is one.
    void TakeProxyUsed(IProxyConfig* report)
    {
        m_proxyUsed.reset(m_comms->CreateEmptyProxyConfig());
        if (!m_proxyUsed)
        {
            TRACE_WARNING(kTraceFlagEvents, 14, "no proxy configuration to learn the route of %ls", m_url);
            return;
        }
        m_proxyUsedKnown = m_request->GetProxyUsed(m_proxyUsed.get());
        if (m_proxyUsedKnown && report != nullptr)
            report->SetProxyConfigUsed(m_proxyUsed.get(), false);
    }

    // Null until the route is known.
    const ICommsProxyConfig* ProxyUsed() const { return m_proxyUsedKnown ? m_proxyUsed.get() : nullptr; }

    DWORD FetchResult()
    {
        CommsResult* result = nullptr;
        const DWORD error = m_request->GetResult(&result);
        m_result.reset(result);
        if (error != ERROR_SUCCESS)
        {
            TRACE_ERROR(kTraceFlagEvents, 15, "no result for %ls: error %u", m_url, error);
            return error;
        }
        if (!m_result)
        {
            TRACE_ERROR(kTraceFlagEvents, 16, "the component gave an empty result for %ls", m_url);
            return ERROR_INVALID_DATA;
        }
        return ERROR_SUCCESS;
    }

    // Null until a result was fetched.
    const CommsResult* Result() const { return m_result.get(); }

    void Deliver(IRequestResponse& response, bool withContent) const
    {
        const CommsResult& result = *m_result;
        response.SetResult(result.m_time, result.m_status, withContent ? result.m_content : nullptr,
                           withContent ? result.m_contentLength : 0);
        if (result.m_headers != nullptr && !response.ParseHeaderText(result.m_headers))
            TRACE_WARNING(kTraceFlagEvents, 17, "response headers of %ls read only in part", m_url);
    }

private:
    ICommsWrapper* m_comms;
    std::wstring m_url;
    // Released in reverse: the result and the route first, then the request, its settings last.
    CRequestSettings m_settings;
    CCommsRequest m_request;
    CCommsProxyConfig m_proxyUsed;
    bool m_proxyUsedKnown = false;
    CCommsResult m_result;
};

CommsWrapperRequestDispatcher::CommsWrapperRequestDispatcher(IConfigUtil* configUtil, bool traceExchanges,
                                                             bool useProxy, IComponentAccess* components)
    : m_configUtil(CConfigHelper::Resolve(configUtil)),
      m_traceExchanges(traceExchanges), m_useProxy(useProxy)
{
    if (m_configUtil == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 18, "request dispatcher without configuration");
        throw std::invalid_argument("ConfigUtil");
    }
    IComponentAccess& access = components != nullptr ? *components : CInstalledComponents::Instance();
    if (!access.UseComms(m_comms))
    {
        TRACE_ERROR(kTraceFlagEvents, 20, "cannot load the communications component");
        throw std::logic_error("Cannot Initialize CommsWrapper");
    }
    if (!m_comms)
    {
        TRACE_ERROR(kTraceFlagEvents, 21, "the communications component gave no interface");
        throw std::logic_error("Cannot Initialize CommsWrapper");
    }
}

DWORD CommsWrapperRequestDispatcher::Send(const std::shared_ptr<IRequest>& request, DWORD signingOption,
                                          const std::shared_ptr<IRequestResponse>& response,
                                          const std::shared_ptr<IProxyConfig>& proxyReport)
{
    if (!request)
    {
        TRACE_ERROR(kTraceFlagEvents, 22, "send without a request");
        return ERROR_INVALID_PARAMETER;
    }
    CExchange exchange(m_comms.get());
    DWORD error = exchange.Open(*request, m_configUtil, m_useProxy);
    if (error != ERROR_SUCCESS)
        return error;
    const SYSTEMTIME requestTime = RequestTime();

    // Nothing was sent on the early returns below: no trace file either.
    const IRequestBody* body = request->GetBody();
    if (body == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 23, "request %ls has no body", exchange.Url());
        return ERROR_INVALID_PARAMETER;
    }
    const std::wstring contentType = body->GetContentType();
    const BYTE* data = body->GetData(false);
    const DWORD length = body->GetLength(false);
    if (m_signRequests)
    {
        if (m_configUtil == nullptr)
            throw std::invalid_argument("configUtil");
        AuthorizationRecord authorization;
        if (!ReadAuthorization(m_configUtil, authorization, kAuthorizationSection, &requestTime, true))
        {
            TRACE_ERROR(kTraceFlagEvents, 24, "no authorization to sign %ls", exchange.Url());
            return ERROR_BAD_CONFIGURATION;
        }
        error = exchange.Request().SendSigned(contentType.c_str(), data, length, signingOption, &authorization);
    }
    else
    {
        error = exchange.Request().Send(contentType.c_str(), data, length);
    }
    exchange.ReleaseBuffer();
    exchange.TakeProxyUsed(proxyReport.get());

    if (error == ERROR_SUCCESS)
    {
        error = exchange.FetchResult();
        if (error == ERROR_SUCCESS)
        {
            UpdateServerClockOffset(exchange.Result()->m_time);
            if (response)
                exchange.Deliver(*response, true);
        }
    }
    else
    {
        TRACE_ERROR(kTraceFlagEvents, 25, "send of %ls failed: error %u", exchange.Url(), error);
    }

    if (m_traceExchanges)
    {
        CExchangeTrace trace;
        trace.WriteRequestTrace(*request, exchange.Url(), error, nullptr, exchange.ProxyUsed());
        trace.WriteResponseTrace(exchange.Result(), error);
        RememberTraceFile(trace.GetPath());
    }
    return error;
}

DWORD CommsWrapperRequestDispatcher::Download(const std::shared_ptr<IRequest>& request, const std::wstring& path,
                                              const std::shared_ptr<IRequestResponse>& response)
{
    if (!request)
    {
        TRACE_ERROR(kTraceFlagEvents, 26, "download without a request");
        return ERROR_INVALID_PARAMETER;
    }
    CExchange exchange(m_comms.get());
    DWORD error = exchange.Open(*request, m_configUtil, m_useProxy);
    if (error != ERROR_SUCCESS)
        return error;

    const std::wstring target = path;
    error = exchange.Request().DownloadToFile(target.c_str());
    if (error != ERROR_SUCCESS && error != ERROR_CONTINUE)
        TRACE_ERROR(kTraceFlagEvents, 27, "download of %ls to %ls failed: error %u", exchange.Url(), target, error);
    exchange.ReleaseBuffer();
    exchange.TakeProxyUsed(nullptr);

    DWORD status = 0;
    if (error == ERROR_SUCCESS || error == ERROR_CONTINUE)
    {
        // Without the result the caller could not tell the answer: its error stands for the download's.
        const DWORD fetched = exchange.FetchResult();
        if (fetched == ERROR_SUCCESS)
        {
            status = exchange.Result()->m_status;
            if (response)
                exchange.Deliver(*response, false);
        }
        else
        {
            error = fetched;
        }
    }

    if (m_traceExchanges)
    {
        CExchangeTrace trace;
        trace.WriteRequestTrace(*request, exchange.Url(), error, status != 0 ? &status : nullptr,
                                exchange.ProxyUsed());
        RememberTraceFile(trace.GetPath());
    }
    return error;
}

std::wstring CommsWrapperRequestDispatcher::GetTraceFilePath() const
{
    std::lock_guard<std::mutex> lock(m_traceFileMutex);
    return m_traceFilePath;
}

std::int64_t CommsWrapperRequestDispatcher::ServerClockOffset()
{
    return g_serverClockOffset.load();
}

void CommsWrapperRequestDispatcher::RememberTraceFile(const std::wstring& path)
{
    if (path.empty())
        return;
    std::lock_guard<std::mutex> lock(m_traceFileMutex);
    m_traceFilePath = path;
}
