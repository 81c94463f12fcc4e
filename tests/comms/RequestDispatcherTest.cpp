// The request dispatcher over a recording component, in process. Against the real component, concurrency
// included, the end-to-end load tests send through it.

#include "CFakeComms.h"
#include "CFakeComponents.h"
#include "CFakeConfigUtil.h"
#include "CTextBody.h"
#include "TestFiles.h"
#include "TraceCapture.h"

#include "comms/CommsWrapperRequestDispatcher.h"
#include "comms/ExchangeTrace.h"
#include "comms/WebApiRequest.h"
#include "comms/WebApiResponse.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

// Notes which proxy it is told about; the rest is an empty proxy configuration.
struct CProxyReport : CProxyConfig
{
    std::vector<DWORD> modes;
    CProxyReport() : CProxyConfig(nullptr, nullptr, false) {}
    bool SetProxyConfigUsed(const ICommsProxyConfig* proxy, bool alternative) override
    {
        modes.push_back(alternative ? 99 : proxy->GetMode());
        return true;
    }
};

constexpr BYTE kReplyContent[] = "{\"id\":5}";
constexpr GUID kDispatcherUnit = trace::ParseGuid("14ce42c3-7221-46f1-ade9-f4b98093bb29");

// The component and its one request at once, noting the calls that tell. Its exchanges went through an
// explicit proxy. Each step can be made to fail; an unsigned send always does.
struct CRecordingComms : CFakeComms, CStubRequest
{
    std::vector<std::string> calls;
    std::wstring opened; // user agent, URL and verb
    DWORD flags = 0, resultError = ERROR_SUCCESS;
    bool opens = true, takesHeaders = true, learnsRoute = true, givesResult = true;
    CommsResult result{kCommsResultSize, 0, 202, L"HTTP/1.1 202 Accepted\r\nA: 1\r\n\r\n", kReplyContent, 8, {}};
    AuthorizationRecord signedWith;
    wchar_t signature[4] = L"sig";

    CRecordingComms() { ::GetSystemTime(&result.m_time); } // a clock offset of 0 for the tests after
    ICommsRequest* OpenRequest(const wchar_t* userAgent, const wchar_t* url, const wchar_t* verb, DWORD given) override
    {
        opened = std::wstring(userAgent) + L" " + url + L" " + verb;
        flags = given;
        return opens ? HandOut(static_cast<ICommsRequest*>(this)) : nullptr;
    }
    void ReleaseRequest(ICommsRequest* request) override
    {
        calls.push_back("release request");
        CFakeComms::ReleaseRequest(request);
    }
    bool AddHeader(const wchar_t* name, const wchar_t*) override
    {
        calls.emplace_back(name, name + std::wcslen(name));
        return takesHeaders;
    }
    DWORD Send(const wchar_t*, const void*, DWORD) override
    {
        calls.push_back("send");
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    DWORD DownloadToFile(const wchar_t*) override
    {
        calls.push_back("send download");
        return ERROR_SUCCESS;
    }
    DWORD SendSigned(const wchar_t*, const void*, DWORD, DWORD, const AuthorizationRecord* record) override
    {
        calls.push_back("send signed " + record->m_secret);
        signedWith = *record;
        return ERROR_SUCCESS;
    }
    DWORD GetResult(CommsResult** out) override
    {
        calls.push_back("result");
        if (resultError == ERROR_SUCCESS && givesResult)
            *out = HandOut(&result);
        return resultError;
    }
    void* TakeBuffer() override { return HandOut(static_cast<void*>(signature)); }
    ICommsProxyConfig* CreateEmptyProxyConfig() override
    {
        return learnsRoute ? CFakeComms::CreateEmptyProxyConfig() : nullptr;
    }
    bool GetProxyUsed(ICommsProxyConfig* config) override
    {
        static_cast<CFakeProxyConfig*>(config)->mode = kProxyModeExplicit;
        return true;
    }
};

// UTC times as seconds since 1601.
double Seconds(const SYSTEMTIME& time)
{
    FILETIME file{};
    ::SystemTimeToFileTime(&time, &file);
    return static_cast<double>((static_cast<unsigned long long>(file.dwHighDateTime) << 32) | file.dwLowDateTime) / 1e7;
}

SYSTEMTIME SecondsFromNow(double seconds)
{
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    const auto ticks = static_cast<unsigned long long>((Seconds(now) + seconds) * 1e7);
    const FILETIME moved{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    ::FileTimeToSystemTime(&moved, &now);
    return now;
}

class RequestDispatcherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const auto& [key, value] : {std::pair{L"Defaults.Scheme", L"http"},
                                         {L"Defaults.Hostname", L"server.test"},
                                         {L"Defaults.Path", L"api"},
                                         {L"Defaults.Verb", L"POST"},
                                         {L"Defaults.User-Agent", L"DispatchTest/1"},
                                         {L"Authorization.AuthorizationId", L"id"},
                                         {L"Authorization.AuthorizationService", L"KWS"},
                                         {L"Authorization.AuthorizationServiceVersion", L"2"},
                                         {L"Authorization.Secret", L"key"}})
            m_config.Set(std::wstring(L"Communications.") + key, value);
    }

    // Every use of the fake component and every object it handed out went back.
    void TearDown() override
    {
        EXPECT_EQ(m_components.Outstanding(), 0);
        EXPECT_EQ(m_comms.Outstanding(), 0);
        EXPECT_EQ(m_comms.BadReleases(), 0);
    }

    std::shared_ptr<WebApiRequest> Request(IRequestBody* body)
    {
        return std::make_shared<WebApiRequest>(&m_config, L"", body, L"Method_Test", UrlParameterMap(), L"/items");
    }

    CFakeConfigUtil m_config;
    CRecordingComms m_comms;
    CFakeComponents m_components{&m_comms};
};

TEST_F(RequestDispatcherTest, WithoutTheComponentItCannotBeBuilt)
{
    // Loaded, but without an interface; a component that does not load is the bare-name test's.
    m_components.comms = nullptr;
    EXPECT_THAT([&] { CommsWrapperRequestDispatcher(&m_config, false, false, &m_components); },
                ::testing::ThrowsMessage<std::logic_error>(::testing::StrEq("Cannot Initialize CommsWrapper")));
    // Nor without a configuration: this process has no module configuration to fall back on.
    EXPECT_THAT([&] { CommsWrapperRequestDispatcher(nullptr, false, false, &m_components); },
                ::testing::ThrowsMessage<std::invalid_argument>(::testing::StrEq("ConfigUtil")));
}

// Each failing step gives its error and trace, and every object handed out goes back. With exchanges traced,
// only one that sent something leaves a trace file.
TEST_F(RequestDispatcherTest, EveryFailingStepIsTracedWithItsError)
{
    struct CCase
    {
        CRecordingComms& comms;
        CFakeConfigUtil& config;
        bool request = true, body = true, sign = true;
    };
    const struct
    {
        const char* what;
        void (*arrange)(CCase&);
        bool download;
        DWORD error;
        ULONG trace;
        bool sent;
    } rows[] = {
        {"no request", [](CCase& c) { c.request = false; }, false, ERROR_INVALID_PARAMETER, 22, false},
        {"no request to download", [](CCase& c) { c.request = false; }, true, ERROR_INVALID_PARAMETER, 26, false},
        {"not opened", [](CCase& c) { c.comms.opens = false; }, false, ERROR_INVALID_DATA, 11, false},
        {"not opened to download", [](CCase& c) { c.comms.opens = false; }, true, ERROR_INVALID_DATA, 11, false},
        {"no body", [](CCase& c) { c.body = false; }, false, ERROR_INVALID_PARAMETER, 23, false},
        {"no secret", [](CCase& c) { c.config.RemoveValue(L"Communications.Authorization.Secret"); }, false,
         ERROR_BAD_CONFIGURATION, 24, false},
        {"header refused", [](CCase& c) { c.comms.takesHeaders = false; }, false, ERROR_SUCCESS, 12, true},
        {"route unknown", [](CCase& c) { c.comms.learnsRoute = false; }, false, ERROR_SUCCESS, 14, true},
        {"empty result", [](CCase& c) { c.comms.givesResult = false; }, false, ERROR_INVALID_DATA, 16, true},
        {"bad header text", [](CCase& c) { c.comms.result.m_headers = L"A: 1\r\n: 2\r\n"; }, false, ERROR_SUCCESS, 17,
         true},
        {"bad server time", [](CCase& c) { c.comms.result.m_time.wMonth = 13; }, false, ERROR_SUCCESS, 10, true},
        {"unsigned send", [](CCase& c) { c.sign = false; }, false, ERROR_CALL_NOT_IMPLEMENTED, 25, true},
        {"download without result", [](CCase& c) { c.comms.resultError = ERROR_INVALID_STATE; }, true,
         ERROR_INVALID_STATE, 15, true}};
    const std::wstring traceFolder = ExchangeTraceFolder();
    ASSERT_FALSE(traceFolder.empty());
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        SetUp();
        const auto tracesBefore = FilesBelow(traceFolder);
        CRecordingComms comms;
        CFakeComponents components{&comms};
        CCase c{comms, m_config};
        row.arrange(c);
        CTextBody body("{}");
        auto response = std::make_shared<WebApiResponse>(nullptr);
        {
            CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelWarning, kTraceFlagEvents);
            CommsWrapperRequestDispatcher dispatcher(&m_config, true, false, &components);
            dispatcher.SetSignRequests(c.sign);
            const auto request = c.request ? Request(c.body ? &body : nullptr) : nullptr;
            EXPECT_EQ(row.download ? dispatcher.Download(request, L"unused.tmp", response)
                                   : dispatcher.Send(request, 0, response, nullptr),
                      row.error);
            EXPECT_TRUE(capture.Has(kDispatcherUnit, row.trace));
            const std::wstring traceFile = dispatcher.GetTraceFilePath();
            EXPECT_EQ(traceFile.empty(), !row.sent);
            ::DeleteFileW(traceFile.c_str());
            EXPECT_EQ(FilesBelow(traceFolder), tracesBefore); // one trace file at most, the one reported
            EXPECT_EQ(components.Outstanding(), 1);           // the dispatcher's own use
        }
        EXPECT_EQ(row.sent, std::any_of(comms.calls.begin(), comms.calls.end(),
                                        [](const std::string& call) { return call.rfind("send", 0) == 0; }));
        EXPECT_EQ(response->GetStatusCode(), row.sent && row.error == ERROR_SUCCESS ? 202u : 0u);
        EXPECT_EQ(components.Outstanding(), 0);
        EXPECT_EQ(comms.Outstanding(), 0);
        EXPECT_EQ(comms.BadReleases(), 0);
    }
}

TEST_F(RequestDispatcherTest, FlagsAreWidenedProxyAndTrustAttachedAndTheRouteReported)
{
    CTextBody body("{}");
    auto request = Request(&body);
    auto response = std::make_shared<WebApiResponse>(nullptr);
    for (const bool useProxy : {false, true})
    {
        SCOPED_TRACE(useProxy ? "with proxy" : "without proxy");
        CommsWrapperRequestDispatcher dispatcher(&m_config, false, useProxy, &m_components);
        // Flags 5: no redirects and no caches on the way; the dispatcher adds no cookies and no automatic logon.
        for (const auto& [given, opened] : {std::pair<DWORD, DWORD>{0, 10}, {5, 15}})
        {
            request->SetRequestFlags(given);
            auto report = std::make_shared<CProxyReport>();
            EXPECT_EQ(dispatcher.Send(request, 0, response, report), 0u);
            EXPECT_EQ(m_comms.flags, opened);
            EXPECT_EQ(report->modes, std::vector<DWORD>{kProxyModeExplicit});
            EXPECT_EQ(m_comms.proxies, useProxy ? m_comms.lists.back().get() : nullptr);
            EXPECT_EQ(m_comms.trust, m_comms.trusts.back().get());
            m_comms.proxies = nullptr;
        }
    }
    EXPECT_EQ(m_comms.opened, L"DispatchTest/1 http://server.test/api/items POST");
    EXPECT_EQ(response->GetStatusCode(), 202u);
    HeaderMap headers;
    response->GetHeaders(headers);
    EXPECT_EQ(headers[L"A"], L"1");
    ASSERT_EQ(response->GetContentLength(), 8u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(response->GetContent()), 8), "{\"id\":5}");

    // A result that cannot be had is the send's error; the response keeps what it held.
    CommsWrapperRequestDispatcher dispatcher(&m_config, false, false, &m_components);
    m_comms.calls.clear();
    m_comms.resultError = ERROR_INVALID_STATE;
    EXPECT_EQ(dispatcher.Send(request, 0, response, nullptr), static_cast<DWORD>(ERROR_INVALID_STATE));
    EXPECT_EQ(response->GetStatusCode(), 202u);
    EXPECT_EQ(m_comms.calls,
              (std::vector<std::string>{"Accept", "Accept-encoding", "x-korvo-messageDate", "x-korvo-messageId",
                                        "send signed key", "result", "release request"}));
    EXPECT_EQ(m_comms.signedWith.m_scheme, kAuthorizationScheme2);
    EXPECT_EQ(m_comms.signedWith.m_schemeName, L"KWS2");
    EXPECT_EQ(m_comms.signedWith.m_authorizationId, L"id");
    EXPECT_TRUE(m_comms.signedWith.m_signRequest);
}

TEST_F(RequestDispatcherTest, ServerClockAheadMovesTheNextSignature)
{
    CTextBody body("{}");
    CommsWrapperRequestDispatcher dispatcher(&m_config, false, false, &m_components);
    m_comms.result.m_time = SecondsFromNow(30);
    ASSERT_EQ(dispatcher.Send(Request(&body), 0, nullptr, nullptr), 0u);
    // The offset is kept in whole seconds: it loses up to one.
    EXPECT_NEAR(static_cast<double>(CommsWrapperRequestDispatcher::ServerClockOffset()), 29.5, 1);

    m_comms.result.m_time = SecondsFromNow(0);
    ASSERT_EQ(dispatcher.Send(Request(&body), 0, nullptr, nullptr), 0u);
    EXPECT_NEAR(Seconds(m_comms.signedWith.m_requestTime) - Seconds(SecondsFromNow(0)), 29.5, 1.5);
    // That answer came with our own clock, so the offset is gone again.
    EXPECT_NEAR(static_cast<double>(CommsWrapperRequestDispatcher::ServerClockOffset()), 0, 1);
    ASSERT_EQ(dispatcher.Send(Request(&body), 0, nullptr, nullptr), 0u);
    EXPECT_NEAR(Seconds(m_comms.signedWith.m_requestTime) - Seconds(SecondsFromNow(0)), 0, 1.5);
}

} // namespace
