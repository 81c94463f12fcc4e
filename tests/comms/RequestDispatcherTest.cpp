// The request dispatcher over the real communications component (loaded from an agent install of the
// test's own, configured through Tamsin's config.json) against the server fixture, and over a recording
// component where only the exact calls tell.

#include "CAgentInstall.h"
#include "CFakeConfigUtil.h"
#include "CServerFixture.h"
#include "CTextBody.h"
#include "TestFiles.h"

#include "comms/CommsWrapperRequestDispatcher.h"
#include "comms/DownloadRequest.h"
#include "comms/WebApiRequest.h"
#include "comms/WebApiResponse.h"
#include "host/CConfigHelper.h"
#include "host/InstallLocations.h"
#include "platform/COperatingSystem.h"
#include "platform/CUniqueHandle.h"
#include "platform/Digest.h"
#include "platform/Encoding.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

using namespace std::chrono_literals;

// Notes which proxy it is told about.
struct CProxyReport : IProxyConfig
{
    std::vector<DWORD> modes;
    bool SetProxyConfigUsed(const ICommsProxyConfig* proxy, bool alternative) override
    {
        modes.push_back(alternative ? 99 : proxy->GetMode());
        return true;
    }
    bool IsValid() const override { return true; }
    ICommsProxyList* GetProxyList() const override { return nullptr; }
    ICommsProxyConfig* GetExplicitProxy() const override { return nullptr; }
    ICommsProxyConfig* GetWpadProxy() const override { return nullptr; }
    ICommsProxyConfig* GetProxyConfigUsed(bool) override { return nullptr; }
    void AttachToClient(IDataServiceClient*) override {}
    void AttachToRequest(ICommsRequest*) override {}
};

// The component and its one request at once, noting the calls that tell.
struct CRecordingComms : ICommsWrapper, ICommsRequest
{
    CRecordingComms() { ::GetSystemTime(&result.m_time); }   // a clock offset of 0 for the tests after
    std::vector<std::string> calls;
    DWORD flags = 0, resultError = ERROR_SUCCESS;
    CommsResult result{kCommsResultSize, 0, 202, L"HTTP/1.1 202 Accepted\r\nA: 1\r\n\r\n", nullptr, 0, {}};
    int outstanding = 0;

    ICommsRequest* OpenRequest(const wchar_t*, const wchar_t*, const wchar_t*, DWORD opened) override
    {
        flags = opened;
        ++outstanding;
        return this;
    }
    void ReleaseRequest(ICommsRequest*) override { Released("release request"); }
    void ReleaseResult(CommsResult*) override { Released("release result"); }
    void Released(const char* what)
    {
        --outstanding;
        calls.push_back(what);
    }
    bool AddHeader(const wchar_t* name, const wchar_t*) override
    {
        calls.emplace_back(name, name + std::wcslen(name));
        return true;
    }
    DWORD SendSigned(const wchar_t*, const void*, DWORD, DWORD, const AuthorizationRecord* record) override
    {
        calls.push_back("send signed " + record->m_secret);
        return ERROR_SUCCESS;
    }
    DWORD GetResult(CommsResult** out) override
    {
        calls.push_back("result");
        if (resultError != ERROR_SUCCESS)
            return resultError;
        ++outstanding;
        *out = &result;
        return ERROR_SUCCESS;
    }
    ICommsProxyList* CreateProxyList() override { return nullptr; }
    void ReleaseProxyList(ICommsProxyList*) override {}
    ICommsProxyConfig* CreateEmptyProxyConfig() override { return nullptr; }
    ICommsProxyConfig* CreateProxyConfig(DWORD, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                                         const wchar_t*, bool, bool) override { return nullptr; }
    void ReleaseProxyConfig(ICommsProxyConfig*) override {}
    IDataServiceClient* CreateDataServiceClient(const wchar_t*, const wchar_t*, const wchar_t*, int, const wchar_t*,
                                                const wchar_t*, const AuthorizationRecord*, const wchar_t*,
                                                const wchar_t*) override { return nullptr; }
    void ReleaseDataServiceClient(IDataServiceClient*) override {}
    void ReleaseBuffer(void*) override {}
    bool SplitUrl(const wchar_t*, CommsUrlComponents*) override { return false; }
    ITrackingRequest* CreateTrackingRequest(const wchar_t*) override { return nullptr; }
    void ReleaseTrackingRequest(ITrackingRequest**) override {}
    void Reserved15() override {}
    ICertificateTrust* CreateCertificateTrust() override { return nullptr; }
    void ReleaseCertificateTrust(ICertificateTrust*) override {}
    DWORD Send(const wchar_t*, const void*, DWORD) override { return ERROR_CALL_NOT_IMPLEMENTED; }
    DWORD DownloadToFile(const wchar_t*) override { return ERROR_CALL_NOT_IMPLEMENTED; }
    void Reserved5() override {}
    void SetProxy(ICommsProxyList*) override {}
    void Reserved8() override {}
    void* TakeBuffer() override { return nullptr; }
    bool GetProxyUsed(ICommsProxyConfig*) override { return false; }
    void Reserved11() override {}
    void SetCertificateTrust(ICertificateTrust*) override {}
};

std::string Sha256Hex(const std::string& data)
{
    std::wstring hex;
    EXPECT_EQ(Sha256HexOfBuffer(data.data(), data.size(), hex), 0u);
    return std::string(hex.begin(), hex.end());
}

std::string Sha256(const std::string& data)
{
    const std::string hex = Sha256Hex(data);
    std::string raw;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        raw.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return raw;
}

// Base64 of HMAC-SHA256, the signature the component's README describes.
std::string Signature(std::string key, const std::string& message)
{
    key.resize(64, '\0');   // the test's key is shorter than a block
    std::string inner, outer;
    for (const char c : key)
    {
        inner.push_back(static_cast<char>(c ^ 0x36));
        outer.push_back(static_cast<char>(c ^ 0x5c));
    }
    const std::string mac = Sha256(outer + Sha256(inner + message));
    char text[64] = {};
    DWORD length = sizeof(text);
    EXPECT_TRUE(Base64Encode(reinterpret_cast<const BYTE*>(mac.data()), 32, text, &length));
    return std::string(text, length);
}

// Seconds from now to a "2024-05-01T09:03:07.042Z" text.
double SecondsAhead(const std::string& date)
{
    SYSTEMTIME time{};
    if (std::sscanf(date.c_str(), "%4hu-%2hu-%2huT%2hu:%2hu:%2hu.%3hu", &time.wYear, &time.wMonth, &time.wDay,
                    &time.wHour, &time.wMinute, &time.wSecond, &time.wMilliseconds) != 7)
        return 1e9;
    FILETIME then{}, now{};
    ::SystemTimeToFileTime(&time, &then);
    ::GetSystemTimeAsFileTime(&now);
    const auto value = [](const FILETIME& t) {
        return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(value(then) - value(now)) / 1e7;
}

class RequestDispatcherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CConfigHelper::Instance().Release();
        for (const wchar_t* library : {L"Quillon.dll", L"QuillonLC.dll", L"Tamsin.dll"})
            ASSERT_TRUE(m_install.Add(library, L"Utils"));
        const std::wstring company = L"Dispatch Test " + std::to_wstring(::GetCurrentProcessId());
        ASSERT_TRUE(m_install.SetSetupValue(L"InitialCompanyName", company));
        ASSERT_TRUE(m_install.SetSetupValue(L"InitialProductName", L"Agent"));
        ASSERT_TRUE(GetCompanyDataFolder(m_company) && GetAgentDataFolder(m_data));
        ::CreateDirectoryW(m_company.c_str(), nullptr);
        ASSERT_TRUE(::CreateDirectoryW(m_data.c_str(), nullptr));
        Configure(true);
        m_util = CConfigHelper::Instance().GetConfigUtil();
        ASSERT_NE(m_util, nullptr);

        // The library the dispatcher picks, kept mapped so that its object count can be read at any time.
        const wchar_t* comms = CommsLibraryName(COperatingSystem().Info().osCode);
        m_library.Reset(::LoadLibraryExW((m_install.Folder() + L"Utils\\" + comms).c_str(), nullptr,
                                         LOAD_WITH_ALTERED_SEARCH_PATH));
        ASSERT_TRUE(m_library);
        m_outstanding = reinterpret_cast<QuillonOutstandingObjectsFn>(
            reinterpret_cast<void*>(::GetProcAddress(m_library.Get(), "QuillonOutstandingObjects")));
        ASSERT_NE(m_outstanding, nullptr);
        ASSERT_EQ(m_outstanding(), 0u);
    }

    void TearDown() override
    {
        CConfigHelper::Instance().Release();
        EXPECT_TRUE(RemoveTree(m_company));
    }

    void Configure(bool withSecret, const std::string& extra = "")
    {
        std::ofstream((m_install.Folder() + L"Utils\\config.json").c_str(), std::ios::binary | std::ios::trunc)
            << "{\"Communications.Defaults.Scheme\": \"http\", \"Communications.Defaults.Hostname\": \""
            << m_server.HostAndPort() << "\", \"Communications.Defaults.Path\": \"api\","
            << " \"Communications.Defaults.Verb\": \"POST\","
            << " \"Communications.Defaults.User-Agent\": \"DispatchTest/1\","
            << " \"Communications.Authorization.AuthorizationId\": \"agent-7\","
            << " \"Communications.Authorization.AuthorizationService\": \"KWS\","
            << " \"Communications.Authorization.AuthorizationServiceVersion\": \"2\""
            << (withSecret ? ", \"Communications.Authorization.Secret\": \"s3cret\"" : "") << extra << "}";
    }

    std::shared_ptr<WebApiRequest> Request(IRequestBody* body, const std::wstring& resource = L"/items")
    {
        return std::make_shared<WebApiRequest>(m_util, L"", body, L"Method_Test", UrlParameterMap(), resource);
    }

    CAgentInstall m_install;
    CServerFixture m_server;
    std::wstring m_company, m_data;
    IConfigUtil* m_util = nullptr;
    CModule m_library;
    QuillonOutstandingObjectsFn m_outstanding = nullptr;
};

TEST_F(RequestDispatcherTest, SignedSendDeliversTheAnswerAndTracesTheExchange)
{
    CScriptedReply reply;
    reply.status = 201;
    reply.headers = {{"X-Reply", "yes"}};
    reply.body = "{\"id\":5}";
    m_server.Reply("POST", "/api/items", reply);
    CTextBody body("{\"x\":1}");
    auto response = std::make_shared<WebApiResponse>(nullptr);
    auto report = std::make_shared<CProxyReport>();
    {
        CommsWrapperRequestDispatcher dispatcher(m_util, true, true);
        EXPECT_EQ(m_outstanding(), 1u);   // the interface
        ASSERT_EQ(dispatcher.Send(Request(&body), 0, response, report), 0u);
        EXPECT_EQ(m_outstanding(), 1u);   // request, result, buffer and proxy objects all given back
        EXPECT_EQ(report->modes, std::vector<DWORD>{0});   // a direct connection, as the last-used kind

        EXPECT_EQ(response->GetStatusCode(), 201u);
        HeaderMap headers;
        response->GetHeaders(headers);
        EXPECT_EQ(headers[L"X-Reply"], L"yes");
        ASSERT_EQ(response->GetContentLength(), reply.body.size());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(response->GetContent()), reply.body.size()), reply.body);

        const CRecordedRequest sent = m_server.Requests().at(0);
        EXPECT_EQ(sent.body, "{\"x\":1}");
        EXPECT_EQ(sent.Header("User-Agent"), "DispatchTest/1");
        const std::string date = sent.Header("X-Signature-Date");
        EXPECT_EQ(sent.Header("Authorization"),
                  "KWS2 agent-7:" + Signature("s3cret", "POST\n/api/items\n" + date + "\n" + Sha256Hex(sent.body)));
        // The request's headers go out in map order, among those that WinHTTP adds.
        std::vector<std::string> ours;
        for (const auto& header : sent.headers)
            if (header.first.rfind("Accept", 0) == 0 || header.first.rfind("x-korvo-", 0) == 0)
                ours.push_back(header.first);
        EXPECT_EQ(ours, (std::vector<std::string>{"Accept", "Accept-encoding", "x-korvo-messageDate",
                                                  "x-korvo-messageId"}));

        const std::string trace = ReadBytes(dispatcher.GetTraceFilePath());
        for (const std::string& line :
             {"\r\nURL=" + m_server.BaseUrl() + "/api/items\r\n", std::string("\r\nProxy=No proxy\r\n"),
              "\r\nHeaders=Accept: application/json | Accept-encoding: gzip | x-korvo-messageDate: " +
                  sent.Header("x-korvo-messageDate") + " | x-korvo-messageId: " + sent.Header("x-korvo-messageId") +
                  " | \r\n",
              std::string("\r\nBody={\"x\":1}\r\n\r\n[RESPONSE]\r\nTime="), std::string("\r\nHTTPStatusCode=201\r\n"),
              std::string("\r\nResponseContent={\"id\":5}\r\n"), std::string(" | X-Reply: yes | ")})
            EXPECT_NE(trace.find(line), std::string::npos) << line << " in\n" << trace;
    }
    EXPECT_EQ(m_outstanding(), 0u);
}

TEST_F(RequestDispatcherTest, NothingGoesOutWithoutBodyOrSecret)
{
    CTextBody body("{}");
    auto response = std::make_shared<WebApiResponse>(nullptr);
    {
        CommsWrapperRequestDispatcher dispatcher(m_util, true, false);
        EXPECT_EQ(dispatcher.Send(Request(nullptr), 0, response, nullptr),
                  static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        Configure(false);
        EXPECT_EQ(dispatcher.Send(Request(&body), 0, response, nullptr), static_cast<DWORD>(ERROR_BAD_CONFIGURATION));
        EXPECT_EQ(m_outstanding(), 1u);
        EXPECT_TRUE(dispatcher.GetTraceFilePath().empty());
    }
    EXPECT_EQ(m_server.RequestCount(), 0u);
    EXPECT_EQ(::GetFileAttributesW((m_data + L"Messages").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(response->GetStatusCode(), 0u);
}

TEST_F(RequestDispatcherTest, ServerClockAheadMovesTheNextSignature)
{
    CScriptedReply ahead;
    ahead.headers = {{"Date", CServerFixture::HttpDate(std::time(nullptr) + 30)}};
    m_server.Reply("POST", "/api/ahead", ahead, EPathMatch::Exact, 1);
    m_server.ReplyJson("POST", "/api/items", 200, "{}");
    CTextBody body("{}");
    CommsWrapperRequestDispatcher dispatcher(m_util, false, false);
    // The "Date" header counts whole seconds and the offset is kept in whole seconds: each loses up to one.
    ASSERT_EQ(dispatcher.Send(Request(&body, L"/ahead"), 0, nullptr, nullptr), 0u);
    EXPECT_NEAR(static_cast<double>(CommsWrapperRequestDispatcher::ServerClockOffset()), 29, 1.5);

    ASSERT_EQ(dispatcher.Send(Request(&body), 0, nullptr, nullptr), 0u);
    EXPECT_NEAR(SecondsAhead(m_server.Requests().at(1).Header("X-Signature-Date")), 29, 1.5);
    // That answer had no "Date": the local clock, so the offset is gone again.
    EXPECT_NEAR(static_cast<double>(CommsWrapperRequestDispatcher::ServerClockOffset()), 0, 1);
    ASSERT_EQ(dispatcher.Send(Request(&body), 0, nullptr, nullptr), 0u);
    EXPECT_NEAR(SecondsAhead(m_server.Requests().at(2).Header("X-Signature-Date")), 0, 2);
}

TEST_F(RequestDispatcherTest, DownloadFillsStatusAndHeadersOfEveryAnswer)
{
    CScriptedReply notModified;
    notModified.status = 304;
    notModified.headers = {{"Last-Modified", "Wed, 01 May 2024 09:03:07 GMT"}};
    m_server.Reply("GET", "/files/old.zip", notModified);
    m_server.Reply("GET", "/files/new.zip", CScriptedReply{200, {}, "PK bytes", "application/zip", {}});
    const std::wstring target = m_install.Folder() + L"download.tmp";
    Configure(true, ", \"Communications.Download_File.Verb\": \"GET\"");
    auto response = std::make_shared<WebApiResponse>(nullptr);
    CommsWrapperRequestDispatcher dispatcher(m_util, true, false);

    EXPECT_EQ(dispatcher.Download(std::make_shared<DownloadRequest>(m_util, m_server.BaseUrlW() + L"/files/old.zip"),
                                  target, response),
              static_cast<DWORD>(ERROR_CONTINUE));
    EXPECT_EQ(response->GetStatusCode(), 304u);
    HeaderMap headers;
    response->GetHeaders(headers);
    EXPECT_EQ(headers[L"Last-Modified"], L"Wed, 01 May 2024 09:03:07 GMT");
    EXPECT_EQ(::GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES);
    const std::string trace = ReadBytes(dispatcher.GetTraceFilePath());
    EXPECT_NE(trace.find("\r\nVerb=GET\r\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("\r\nLastError=1246\r\nHTTPStatusCode=304\r\n"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("[RESPONSE]"), std::string::npos);

    EXPECT_EQ(dispatcher.Download(std::make_shared<DownloadRequest>(m_util, m_server.BaseUrlW() + L"/files/new.zip"),
                                  target, response),
              0u);
    EXPECT_EQ(response->GetStatusCode(), 200u);
    EXPECT_EQ(response->GetContent(), nullptr);
    EXPECT_EQ(ReadBytes(target), "PK bytes");
    EXPECT_EQ(m_outstanding(), 1u);
}

TEST_F(RequestDispatcherTest, FlagsAreWidenedAndSeenOnTheWire)
{
    // Flags 5: no redirects and no caches on the way; the dispatcher adds no cookies and no automatic logon.
    CScriptedReply moved;
    moved.status = 302;
    moved.headers = {{"Location", "/api/elsewhere"}};
    m_server.Reply("POST", "/api/items", moved);
    CTextBody body("{}");
    auto request = Request(&body);
    request->SetRequestFlags(kRequestNoRedirects | kRequestReload);
    auto response = std::make_shared<WebApiResponse>(nullptr);
    {
        CommsWrapperRequestDispatcher dispatcher(m_util, false, false);
        ASSERT_EQ(dispatcher.Send(request, 0, response, nullptr), 0u);
    }
    EXPECT_EQ(response->GetStatusCode(), 302u);
    ASSERT_EQ(m_server.RequestCount(), 1u);
    EXPECT_EQ(m_server.Requests()[0].Header("Cache-Control"), "no-cache");

    // The exact bits need a component that notes them.
    CFakeConfigUtil util;
    util.Set(L"Communications.Authorization.AuthorizationId", L"id");
    util.Set(L"Communications.Authorization.Secret", L"key");
    CRecordingComms comms;
    CommsWrapperRequestDispatcher dispatcher(&util, &comms, false, false);
    for (const auto& [given, opened] : {std::pair<DWORD, DWORD>{0, 10}, {5, 15}})
    {
        request->SetRequestFlags(given);
        EXPECT_EQ(dispatcher.Send(request, 0, response, nullptr), 0u);
        EXPECT_EQ(comms.flags, opened);
    }
    EXPECT_EQ(response->GetStatusCode(), 202u);
    HeaderMap headers;
    response->GetHeaders(headers);
    EXPECT_EQ(headers[L"A"], L"1");

    // A result that cannot be had is the send's error; the response keeps what it held.
    comms.calls.clear();
    comms.resultError = ERROR_INVALID_STATE;
    EXPECT_EQ(dispatcher.Send(request, 0, response, nullptr), static_cast<DWORD>(ERROR_INVALID_STATE));
    EXPECT_EQ(response->GetStatusCode(), 202u);
    EXPECT_EQ(comms.calls, (std::vector<std::string>{"Accept", "Accept-encoding", "x-korvo-messageDate",
                                                     "x-korvo-messageId", "send signed key", "result",
                                                     "release request"}));
    EXPECT_EQ(comms.outstanding, 0);
}

TEST_F(RequestDispatcherTest, FourThreadsAgainstAFlakyServer)
{
    m_server.ReplyJson("POST", "/api/items", 200, "{}");
    m_server.InjectFaults(CFaultPlan{20240501, 0.2, 0.2, 0.3, 30ms, {500, 503}});
    std::atomic<std::size_t> failed{0}, serverErrors{0}, odd{0}, slow{0};
    {
        std::vector<std::unique_ptr<CommsWrapperRequestDispatcher>> dispatchers;
        for (int t = 0; t < 4; ++t)
            dispatchers.push_back(std::make_unique<CommsWrapperRequestDispatcher>(m_util, t == 0, false));
        std::vector<std::thread> threads;
        for (const auto& dispatcher : dispatchers)
            threads.emplace_back([&, sender = dispatcher.get()] {
                CTextBody body("{\"n\":1}");
                for (int i = 0; i < 50; ++i)
                {
                    auto response = std::make_shared<WebApiResponse>(nullptr);
                    const auto start = std::chrono::steady_clock::now();
                    const DWORD error = sender->Send(Request(&body), 0, response, nullptr);
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
        EXPECT_EQ(m_outstanding(), 4u);   // only the interfaces
    }
    EXPECT_EQ(m_outstanding(), 0u);
    EXPECT_EQ(odd, 0u);
    EXPECT_EQ(slow, 0u);
    const CFaultCounts faults = m_server.FaultCounts();
    EXPECT_GT(faults.dropped, 0u);
    EXPECT_GT(faults.delayed, 0u);
    EXPECT_EQ(failed, faults.dropped);
    EXPECT_EQ(serverErrors, faults.serverErrors);
}

} // namespace
