// The request dispatcher over a recording component, in process; and over the real communications component
// (loaded from an agent install of the test's own, configured through Tamsin's config.json) against the server
// fixture, where only the wire tells: the signature, the exchange trace files, downloads, concurrency.

#include "CAgentInstall.h"
#include "CFakeComms.h"
#include "CFakeComponents.h"
#include "CFakeConfigUtil.h"
#include "CServerFixture.h"
#include "CTextBody.h"
#include "TestFiles.h"
#include "TraceCapture.h"

#include "comms/CommsWrapperRequestDispatcher.h"
#include "comms/WebApiRequest.h"
#include "comms/WebApiResponse.h"
#include "host/CCommsWrapperLoader.h"
#include "host/CConfigHelper.h"
#include "host/InstallLocations.h"
#include "platform/COperatingSystem.h"
#include "platform/CUniqueHandle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cwchar>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{

using namespace std::literals;

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
    // The real component and the server fixture, for the tests that need the wire.
    struct CWire
    {
        CAgentInstall install;
        CServerFixture server;
        std::wstring company, data;
        IConfigUtil* util = nullptr;
        CModule library;
        QuillonOutstandingObjectsFn outstanding = nullptr;

        ~CWire()
        {
            CConfigHelper::Instance().Release();
            EXPECT_TRUE(company.empty() || RemoveTree(company));
        }
        std::shared_ptr<WebApiRequest> Request(IRequestBody* body)
        {
            return std::make_shared<WebApiRequest>(util, L"", body, L"Method_Test", UrlParameterMap(), L"/items");
        }
    };

    void SetUpWire()
    {
        m_wire = std::make_unique<CWire>();
        CWire& w = *m_wire;
        CConfigHelper::Instance().Release();
        for (const wchar_t* library : {L"Quillon.dll", L"QuillonLC.dll", L"Tamsin.dll"})
            ASSERT_TRUE(w.install.Add(library, L"Utils"));
        const std::wstring company = L"Dispatch Test " + std::to_wstring(::GetCurrentProcessId());
        ASSERT_TRUE(w.install.SetSetupValue(L"InitialCompanyName", company));
        ASSERT_TRUE(w.install.SetSetupValue(L"InitialProductName", L"Agent"));
        ASSERT_TRUE(GetCompanyDataFolder(w.company) && GetAgentDataFolder(w.data));
        ::CreateDirectoryW(w.company.c_str(), nullptr);
        ASSERT_TRUE(::CreateDirectoryW(w.data.c_str(), nullptr));
        WriteBytes(w.install.Folder() + L"Utils\\config.json",
                   "{\"Communications.Defaults.Scheme\": \"http\", \"Communications.Defaults.Hostname\": \"" +
                       w.server.HostAndPort() +
                       "\", \"Communications.Defaults.Path\": \"api\", "
                       "\"Communications.Defaults.Verb\": \"POST\", \"Communications.Defaults.User-Agent\": "
                       "\"DispatchTest/1\", \"Communications.Authorization.AuthorizationId\": \"agent-7\", "
                       "\"Communications.Authorization.AuthorizationService\": \"KWS\", "
                       "\"Communications.Authorization.AuthorizationServiceVersion\": \"2\", "
                       "\"Communications.Authorization.Secret\": \"s3cret\"}");
        w.util = CConfigHelper::Instance().GetConfigUtil();
        ASSERT_NE(w.util, nullptr);

        // The library the dispatcher picks, kept mapped so that its object count can be read at any time.
        const wchar_t* comms = CommsLibraryName(COperatingSystem().Info().osCode);
        w.library.Reset(::LoadLibraryExW((w.install.Folder() + L"Utils\\" + comms).c_str(), nullptr,
                                         LOAD_WITH_ALTERED_SEARCH_PATH));
        ASSERT_TRUE(w.library);
        w.outstanding = reinterpret_cast<QuillonOutstandingObjectsFn>(
            reinterpret_cast<void*>(::GetProcAddress(w.library.Get(), "QuillonOutstandingObjects")));
        ASSERT_NE(w.outstanding, nullptr);
        ASSERT_EQ(w.outstanding(), 0u);
    }

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
    std::unique_ptr<CWire> m_wire;
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

// Each failing step gives its error and trace, and every object handed out goes back. An exchange that sent
// nothing leaves no trace file.
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
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        SetUp();
        CRecordingComms comms;
        CFakeComponents components{&comms};
        CCase c{comms, m_config};
        row.arrange(c);
        CTextBody body("{}");
        auto response = std::make_shared<WebApiResponse>(nullptr);
        {
            CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelWarning, kTraceFlagEvents);
            CommsWrapperRequestDispatcher dispatcher(&m_config, !row.sent, false, &components);
            dispatcher.SetSignRequests(c.sign);
            const auto request = c.request ? Request(c.body ? &body : nullptr) : nullptr;
            EXPECT_EQ(row.download ? dispatcher.Download(request, L"unused.tmp", response)
                                   : dispatcher.Send(request, 0, response, nullptr),
                      row.error);
            EXPECT_TRUE(capture.Has(kDispatcherUnit, row.trace));
            EXPECT_TRUE(dispatcher.GetTraceFilePath().empty());
            EXPECT_EQ(components.Outstanding(), 1); // the dispatcher's own use
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

TEST_F(RequestDispatcherTest, FourThreadsAgainstAFlakyServer)
{
    ASSERT_NO_FATAL_FAILURE(SetUpWire());
    CWire& w = *m_wire;
    w.server.ReplyJson("POST", "/api/items", 200, "{}");
    w.server.InjectFaults(CFaultPlan{20240501, 0.2, 0.2, 0.3, 30ms, {500, 503}});
    std::atomic<std::size_t> failed{0}, serverErrors{0}, odd{0}, slow{0};
    {
        std::vector<std::unique_ptr<CommsWrapperRequestDispatcher>> dispatchers;
        for (int t = 0; t < 4; ++t)
            dispatchers.push_back(std::make_unique<CommsWrapperRequestDispatcher>(w.util, t == 0, false));
        std::vector<std::thread> threads;
        for (const auto& dispatcher : dispatchers)
            threads.emplace_back([&, sender = dispatcher.get()] {
                CTextBody body("{\"n\":1}");
                for (int i = 0; i < 50; ++i)
                {
                    auto response = std::make_shared<WebApiResponse>(nullptr);
                    const auto start = std::chrono::steady_clock::now();
                    const DWORD error = sender->Send(w.Request(&body), 0, response, nullptr);
                    const DWORD status = response->GetStatusCode();
                    slow += std::chrono::steady_clock::now() - start > 10s;
                    failed += error != 0;
                    serverErrors += status >= 500;
                    // An error leaves the fresh response empty; an answer is the script's or a fault's.
                    odd += error != 0 ? status != 0 : status != 200 && status != 500 && status != 503;
                }
            });
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(w.outstanding(), 4u); // only the interfaces
    }
    EXPECT_EQ(w.outstanding(), 0u);
    EXPECT_EQ(odd, 0u);
    EXPECT_EQ(slow, 0u);
    const CFaultCounts faults = w.server.FaultCounts();
    EXPECT_GT(faults.dropped, 0u);
    EXPECT_GT(faults.delayed, 0u);
    EXPECT_EQ(failed, faults.dropped);
    EXPECT_EQ(serverErrors, faults.serverErrors);
}

} // namespace
