// Quillon.dll as the plug-in meets it: loaded from an agent install's Utils folder, talking HTTP to the
// server fixture over loopback.

#include "CAgentInstall.h"
#include "CServerFixture.h"
#include "ModuleExport.h"
#include "TestFiles.h"

#include "host/ICommsWrapper.h"
#include "platform/CUniqueHandle.h"

#include <winhttp.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

constexpr wchar_t kUserAgent[] = L"QuillonTest/1";
constexpr DWORD kDispatcherFlags = 10;                   // what the request dispatcher always opens with
const SYSTEMTIME kFixedTime{2024, 5, 0, 1, 9, 3, 7, 42}; // 2024-05-01 09:03:07.042

// The address of a loopback listener that was just closed: connections to it are refused.
std::wstring DeadAddress()
{
    return L"127.0.0.1:" + std::to_wstring(CServerFixture().Port());
}

// "METHOD target body" of a recorded request.
std::string Described(const CRecordedRequest& r)
{
    return r.method + " " + r.target + " " + r.body;
}

void ExpectHeaders(const CRecordedRequest& r, std::initializer_list<std::pair<const char*, const char*>> expected)
{
    for (const auto& [name, value] : expected)
        EXPECT_EQ(r.Header(name), value) << name;
}

class QuillonTest : public ::testing::Test
{
protected:
    virtual const wchar_t* Library() const { return L"Quillon.dll"; }

    void SetUp() override
    {
        ASSERT_TRUE(m_install.Add(Library(), L"Utils"));
        m_library = LoadLibraryAt(m_install.Folder() + L"Utils\\" + Library());
        m_get = ModuleExport<GetICommsWrapperFn>(m_library.Get(), "GetICommsWrapper");
        m_free = ModuleExport<FreeICommsWrapperFn>(m_library.Get(), "FreeICommsWrapper");
        m_outstanding = ModuleExport<QuillonOutstandingObjectsFn>(m_library.Get(), "QuillonOutstandingObjects");
        ASSERT_TRUE(m_get && m_free && m_outstanding);
        m_comms = m_get();
        ASSERT_NE(m_comms, nullptr);
    }

    void TearDown() override
    {
        if (m_comms != nullptr)
            m_free(&m_comms);
        EXPECT_EQ(m_comms, nullptr);
        // Every object handed out in the test was given back.
        EXPECT_EQ(m_outstanding ? m_outstanding() : 0u, 0u);
    }

    std::wstring Url(const std::wstring& path) const { return m_server.BaseUrlW() + path; }
    ICommsRequest* Open(const std::wstring& path, const wchar_t* verb = L"GET", DWORD flags = 0)
    {
        return m_comms->OpenRequest(kUserAgent, Url(path).c_str(), verb, flags);
    }

    // Opens, sends and fetches the result; the request is released, the result is the caller's.
    DWORD Exchange(const std::wstring& path, const wchar_t* verb, const std::string& body, CommsResult** result,
                   const AuthorizationRecord* authorization = nullptr)
    {
        ICommsRequest* request = Open(path, verb, kDispatcherFlags);
        if (request == nullptr)
            return ERROR_INVALID_HANDLE;
        request->AddHeader(L"x-test", L"one");
        const DWORD size = static_cast<DWORD>(body.size());
        DWORD error = authorization != nullptr
                          ? request->SendSigned(L"application/json", body.data(), size, 0, authorization)
                          : request->Send(L"application/json", body.data(), size);
        if (error == ERROR_SUCCESS && result != nullptr)
            error = request->GetResult(result);
        if (void* buffer = request->TakeBuffer())
            m_comms->ReleaseBuffer(buffer);
        m_comms->ReleaseRequest(request);
        return error;
    }

    CAgentInstall m_install;
    CModule m_library;
    GetICommsWrapperFn m_get = nullptr;
    FreeICommsWrapperFn m_free = nullptr;
    QuillonOutstandingObjectsFn m_outstanding = nullptr;
    ICommsWrapper* m_comms = nullptr;
    CServerFixture m_server;
};

TEST_F(QuillonTest, RequestsCarryHeadersBodyAndTheRecordsSignatureAndGetTheAnswer)
{
    const CScriptedReply reply{201, {{"X-Reply", "yes"}, {"Date", "Wed, 01 May 2024 09:03:07 GMT"}}, "{\"ok\":true}"};
    m_server.Reply("PUT", "/api/items", reply);
    m_server.ReplyJson("POST", "/api/v1/items", 200, "{}");

    CommsResult* result = nullptr;
    ASSERT_EQ(Exchange(L"/api/items?id=7", L"PUT", "{\"name\":\"x\"}", &result), 0u);
    ASSERT_TRUE(result && result->m_headers && result->m_content);
    EXPECT_EQ(result->m_size, kCommsResultSize);
    EXPECT_EQ(result->m_status, 201u);
    const std::wstring headers = result->m_headers;
    EXPECT_TRUE(headers.compare(0, 5, L"HTTP/") == 0 && headers.find(L"X-Reply: yes\r\n") != std::wstring::npos)
        << headers;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(result->m_content), result->m_contentLength), reply.body);
    // The server's clock, not ours: the dispatcher estimates the clock offset from it.
    const SYSTEMTIME& t = result->m_time;
    EXPECT_EQ((std::vector<int>{t.wYear, t.wMonth, t.wHour, t.wSecond}), (std::vector<int>{2024, 5, 9, 7}));
    m_comms->ReleaseResult(result);

    AuthorizationRecord record{kAuthorizationScheme2, kFixedTime, "s3cret", L"agent-1", L"KWS2", true};
    ICommsRequest* request = Open(L"/api/v1/items?a=1", L"POST");
    ASSERT_NE(request, nullptr);
    const std::string body = "{\"x\":1}";
    ASSERT_EQ(request->SendSigned(L"application/json", body.data(), static_cast<DWORD>(body.size()), 0, &record), 0u);
    auto* buffer = static_cast<wchar_t*>(request->TakeBuffer());
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(request->TakeBuffer(), nullptr); // handed out once
    EXPECT_STREQ(buffer, L"KWS2 agent-1:CFlJJxjXi166eKxyjT7yqBZwmqgcSMHLykSHmUYygLk=");
    m_comms->ReleaseBuffer(buffer);
    m_comms->ReleaseRequest(request);

    // Scheme 1 leaves the body out of the signature.
    record.m_scheme = kAuthorizationScheme1;
    record.m_schemeName = L"KWS";
    ASSERT_EQ(Exchange(L"/api/v1/items?a=1", L"POST", "{\"other\":2}", nullptr, &record), 0u);

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(Described(requests[0]), "PUT /api/items?id=7 {\"name\":\"x\"}");
    ExpectHeaders(requests[0],
                  {{"Content-Type", "application/json"}, {"x-test", "one"}, {"User-Agent", "QuillonTest/1"}});
    EXPECT_FALSE(requests[0].HasHeader("Authorization"));
    ExpectHeaders(requests[1], {{"Authorization", "KWS2 agent-1:CFlJJxjXi166eKxyjT7yqBZwmqgcSMHLykSHmUYygLk="},
                                {"X-Signature-Date", "2024-05-01T09:03:07.042Z"}});
    EXPECT_EQ(requests[1].body, body);
    EXPECT_EQ(requests[2].Header("Authorization"), "KWS agent-1:9qTK3sQOfp53QIa3CoNorJnwC14iNQszTTjU0RczIEA=");
}

TEST_F(QuillonTest, RequestRefusesWhatCannotGoOnTheWireAndReportsFailures)
{
    EXPECT_EQ(m_comms->OpenRequest(kUserAgent, L"ftp://127.0.0.1/x", L"GET", 0), nullptr);
    EXPECT_EQ(m_comms->OpenRequest(kUserAgent, L"not a url", L"GET", 0), nullptr);
    EXPECT_EQ(Open(L"/x", L""), nullptr);

    ICommsRequest* request = Open(L"/x");
    ASSERT_NE(request, nullptr);
    EXPECT_FALSE(request->AddHeader(L"x-a", L"1\r\nInjected: yes"));
    EXPECT_FALSE(request->AddHeader(L"x-b\r\nInjected", L"1"));
    EXPECT_FALSE(request->AddHeader(L"", L"1"));
    EXPECT_TRUE(request->AddHeader(L"x-c", L""));
    EXPECT_EQ(request->Send(nullptr, nullptr, 5), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    m_comms->ReleaseRequest(request);
    EXPECT_EQ(m_server.RequestCount(), 0u);

    m_server.ReplyJson("POST", "/fail", 500, "{\"Code\":\"x\"}");
    CommsResult* result = nullptr;
    ASSERT_EQ(Exchange(L"/fail", L"POST", "{}", &result), 0u);
    EXPECT_EQ(result->m_status, 500u);
    EXPECT_EQ(result->m_contentLength, 12u);
    m_comms->ReleaseResult(result);

    request = m_comms->OpenRequest(kUserAgent, (L"http://" + DeadAddress() + L"/x").c_str(), L"GET", 0);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->Send(nullptr, nullptr, 0), static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT));
    result = nullptr;
    EXPECT_EQ(request->GetResult(&result), static_cast<DWORD>(ERROR_INVALID_STATE));
    EXPECT_EQ(result, nullptr);
    m_comms->ReleaseRequest(request);
}

// A proxy that cannot be reached hands over to the next route only when it may fall back.
TEST_F(QuillonTest, UnreachableProxyHandsOverOnlyWhenItMayFallBack)
{
    const std::wstring deadProxy = DeadAddress();
    m_server.ReplyJson("GET", "/via", 200, "{}");
    for (const bool fallback : {true, false})
    {
        SCOPED_TRACE(fallback ? "fallback" : "no fallback");
        ICommsProxyList* list = m_comms->CreateProxyList();
        ICommsProxyConfig* dead = m_comms->CreateProxyConfig(kProxyModeExplicit, deadProxy.c_str(), L"", L"", nullptr,
                                                             nullptr, false, fallback);
        ASSERT_TRUE(list->AddProxyConfig(dead));
        ASSERT_TRUE(list->AddDirect(false));
        ICommsRequest* request = Open(L"/via", L"GET", 10);
        request->SetProxy(list);
        m_comms->ReleaseProxyList(list); // the request keeps its own copy of the routes
        EXPECT_EQ(request->Send(nullptr, nullptr, 0), fallback ? 0u : static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT));
        ICommsProxyConfig* used = m_comms->CreateEmptyProxyConfig();
        EXPECT_EQ(request->GetProxyUsed(used), fallback);
        EXPECT_EQ(fallback ? used->GetMode() : 0u, 0u); // handed over to the direct route
        m_comms->ReleaseProxyConfig(used);
        m_comms->ReleaseRequest(request);
        m_comms->ReleaseProxyConfig(dead);
    }
    EXPECT_EQ(m_server.RequestsTo("/via").size(), 1u);
}

TEST_F(QuillonTest, ProxyConfigurationsCompareByRoute)
{
    const auto explicitRoute = [&](const wchar_t* proxy, bool fallback) {
        return m_comms->CreateProxyConfig(kProxyModeExplicit, proxy, L"u", L"pw", nullptr, nullptr, false, fallback);
    };
    ICommsProxyConfig* a = explicitRoute(L"p:1", true);
    ICommsProxyConfig* b = explicitRoute(L"p:1", false);
    ICommsProxyConfig* c = explicitRoute(L"p:2", true);
    ICommsProxyConfig* wpad = m_comms->CreateProxyConfig(kProxyModeWpad, nullptr, nullptr, nullptr, nullptr,
                                                         L"http://pac/x.pac", false, false);
    EXPECT_TRUE(a->Equals(b)); // fallback is not part of the route
    EXPECT_FALSE(a->Equals(c));
    EXPECT_FALSE(a->Equals(wpad));
    EXPECT_FALSE(a->Equals(nullptr));
    EXPECT_STREQ(wpad->GetWpadUrl(), L"http://pac/x.pac");
    EXPECT_STREQ(wpad->GetProxyList(), L""); // absent texts are empty, never null
    EXPECT_TRUE(a->GetFallback());
    EXPECT_EQ(m_outstanding(), 5u); // the interface and the four, each counted until given back
    for (ICommsProxyConfig* config : {a, b, c, wpad})
        m_comms->ReleaseProxyConfig(config);
}

TEST_F(QuillonTest, DataServiceClientUploadsWithItsSettingsAndFailuresAreFalse)
{
    m_server.StoreUploads("/data/", m_install.Folder() + L"Repository");
    m_server.ReplyJson("POST", "/data/upload/events/messages", 202, "");
    m_server.ReplyJson("PUT", "/data/upload/op-2/report.txt", 500, "{}");
    const std::wstring file = m_install.Folder() + L"report.txt";
    WriteBytes(file, "report body");
    EXPECT_EQ(m_comms->CreateDataServiceClient(kUserAgent, L"", L"svc", 0, L"", L"", nullptr, L"", L""), nullptr);

    // A secret longer than a block is hashed first.
    const AuthorizationRecord record{kAuthorizationScheme2, kFixedTime, std::string(100, 'k'), L"svc", L"KWS2", false};
    IDataServiceClient* client = m_comms->CreateDataServiceClient(kUserAgent, m_server.BaseUrlW().c_str(), L"upload",
                                                                  12, L"1.2", L"dev-1", &record, L"/data/", L"site-9");
    ASSERT_NE(client, nullptr);

    const DataServiceHeaders headers{{L"x-korvo-metadata-status-code", L"0"}, {L"x-korvo-metadata-a", L"2"}};
    EXPECT_TRUE(client->UploadToDataContainer(L"op-1", L"owner-1", file.c_str(), L"text/plain", headers));
    EXPECT_TRUE(client->UploadFile(L"box", L"..", file.c_str()));
    EXPECT_TRUE(client->SendToQueue(L"events", L"h\u00e9llo", L"lbl"));
    // Refused by the server, or never sent: a missing file, a header that cannot go on the wire, no operation.
    EXPECT_FALSE(client->UploadToDataContainer(L"op-2", L"", file.c_str(), L"", {}));
    EXPECT_FALSE(client->UploadToDataContainer(L"op-1", L"owner-1", (file + L".missing").c_str(), L"", headers));
    EXPECT_FALSE(client->UploadToDataContainer(L"op-1", L"", file.c_str(), L"", {{L"bad\r\nname", L"v"}}));
    EXPECT_FALSE(client->UploadToDataContainer(L"", L"", file.c_str(), L"", {}));
    m_comms->ReleaseDataServiceClient(client);

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(Described(requests[0]), "PUT /data/upload/op-1/report.txt report body");
    ExpectHeaders(requests[0], {{"Content-Type", "text/plain"},
                                {"x-operation-id", "op-1"},
                                {"x-owner", "owner-1"},
                                {"x-korvo-metadata-a", "2"},
                                {"x-korvo-metadata-status-code", "0"},
                                {"x-device-id", "dev-1"},
                                {"x-site-id", "site-9"},
                                {"x-product", "12"},
                                {"x-product-version", "1.2"},
                                {"Authorization", "KWS2 svc:afxvxvmUB6rfa4+6/H6uPHFJOY2JQ4o38O/jlp3HS7g="}});
    EXPECT_EQ(requests[1].path, "/data/upload/box/%2E%2E"); // a name cannot climb out of its container
    EXPECT_EQ(Described(requests[2]), "POST /data/upload/events/messages h\xC3\xA9llo");
    EXPECT_EQ(requests[2].Header("x-message-label"), "lbl");
    EXPECT_EQ(requests[3].status, 500);
}

} // namespace
