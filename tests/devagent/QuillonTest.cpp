// Quillon.dll as the plug-in meets it: loaded from an agent install's Utils folder, talking HTTP to the
// server fixture over loopback.

#include "CAgentInstall.h"
#include "CServerFixture.h"
#include "TestFiles.h"

#include "host/ICommsWrapper.h"
#include "platform/CUniqueHandle.h"

#include <winhttp.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

namespace
{

using namespace std::chrono_literals;

constexpr wchar_t kUserAgent[] = L"QuillonTest/1";
constexpr DWORD kDispatcherFlags = 10;   // what the request dispatcher always opens with

SYSTEMTIME FixedTime()
{
    SYSTEMTIME time{};
    time.wYear = 2024;
    time.wMonth = 5;
    time.wDay = 1;
    time.wHour = 9;
    time.wMinute = 3;
    time.wSecond = 7;
    time.wMilliseconds = 42;
    return time;
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

template <typename Fn>
Fn Export(HMODULE library, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

// The port of a loopback listener that was just closed: connections to it are refused.
unsigned short DeadPort()
{
    auto server = std::make_unique<CServerFixture>();
    const unsigned short port = server->Port();
    server.reset();
    return port;
}

class QuillonTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.Add(L"Quillon.dll", L"Utils"));
        m_library.Reset(::LoadLibraryExW((Utils() + L"Quillon.dll").c_str(), nullptr,
                                         LOAD_WITH_ALTERED_SEARCH_PATH));
        ASSERT_TRUE(m_library);
        m_get = Export<GetICommsWrapperFn>(m_library.Get(), "GetICommsWrapper");
        m_free = Export<FreeICommsWrapperFn>(m_library.Get(), "FreeICommsWrapper");
        m_outstanding = Export<QuillonOutstandingObjectsFn>(m_library.Get(), "QuillonOutstandingObjects");
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
        if (m_outstanding)
        {
            EXPECT_EQ(m_outstanding(), 0u);
        }
    }

    std::wstring Utils() const { return m_install.Folder() + L"Utils\\"; }
    void SetFaults(const std::string& json) { WriteBytes(Utils() + L"config.json", json); }

    // Opens, sends and fetches the result; the request is released, the result is the caller's.
    DWORD Exchange(const std::wstring& url, const wchar_t* verb, const std::string& body, CommsResult** result,
                   ICommsProxyList* proxies = nullptr, const AuthorizationRecord* authorization = nullptr)
    {
        ICommsRequest* request = m_comms->OpenRequest(kUserAgent, url.c_str(), verb, kDispatcherFlags);
        if (request == nullptr)
            return ERROR_INVALID_HANDLE;
        request->AddHeader(L"x-test", L"one");
        if (proxies != nullptr)
            request->SetProxy(proxies);
        DWORD error = authorization != nullptr
                          ? request->SendSigned(L"application/json", body.data(), static_cast<DWORD>(body.size()), 0,
                                                authorization)
                          : request->Send(L"application/json", body.data(), static_cast<DWORD>(body.size()));
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

TEST_F(QuillonTest, GetAndPutCarryHeadersBodyAndAnswer)
{
    CScriptedReply reply;
    reply.status = 201;
    reply.headers = {{"X-Reply", "yes"}, {"Date", "Wed, 01 May 2024 09:03:07 GMT"}};
    reply.body = "{\"ok\":true}";
    m_server.Reply("PUT", "/api/items", reply);
    m_server.ReplyJson("GET", "/api/items", 200, "[]");

    CommsResult* result = nullptr;
    ASSERT_EQ(Exchange(m_server.BaseUrlW() + L"/api/items?id=7", L"PUT", "{\"name\":\"x\"}", &result), 0u);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->m_size, kCommsResultSize);
    EXPECT_EQ(result->m_status, 201u);
    ASSERT_NE(result->m_headers, nullptr);
    const std::wstring headers = result->m_headers;
    EXPECT_EQ(headers.compare(0, 5, L"HTTP/"), 0);
    EXPECT_NE(headers.find(L"X-Reply: yes\r\n"), std::wstring::npos);
    ASSERT_NE(result->m_content, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(result->m_content), result->m_contentLength), reply.body);
    // The server's clock, not ours: the dispatcher estimates the clock offset from it.
    EXPECT_EQ(result->m_time.wYear, 2024);
    EXPECT_EQ(result->m_time.wMonth, 5);
    EXPECT_EQ(result->m_time.wHour, 9);
    EXPECT_EQ(result->m_time.wSecond, 7);
    m_comms->ReleaseResult(result);

    ASSERT_EQ(Exchange(m_server.BaseUrlW() + L"/api/items", L"GET", "", &result), 0u);
    EXPECT_EQ(result->m_status, 200u);
    m_comms->ReleaseResult(result);

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "PUT");
    EXPECT_EQ(requests[0].path, "/api/items");
    EXPECT_EQ(requests[0].query, "id=7");
    EXPECT_EQ(requests[0].body, "{\"name\":\"x\"}");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/json");
    EXPECT_EQ(requests[0].Header("x-test"), "one");
    EXPECT_EQ(requests[0].Header("User-Agent"), "QuillonTest/1");
    EXPECT_FALSE(requests[0].HasHeader("Authorization"));
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_TRUE(requests[1].body.empty());
}

TEST_F(QuillonTest, ErrorStatusIsAnAnswerAndUnreachableServerIsAnError)
{
    m_server.ReplyJson("POST", "/fail", 500, "{\"Code\":\"x\"}");
    CommsResult* result = nullptr;
    ASSERT_EQ(Exchange(m_server.BaseUrlW() + L"/fail", L"POST", "{}", &result), 0u);
    EXPECT_EQ(result->m_status, 500u);
    EXPECT_EQ(result->m_contentLength, 12u);
    m_comms->ReleaseResult(result);

    const std::wstring dead = L"http://127.0.0.1:" + std::to_wstring(DeadPort()) + L"/x";
    ICommsRequest* request = m_comms->OpenRequest(kUserAgent, dead.c_str(), L"GET", 0);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->Send(nullptr, nullptr, 0), static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT));
    result = nullptr;
    EXPECT_EQ(request->GetResult(&result), static_cast<DWORD>(ERROR_INVALID_STATE));
    EXPECT_EQ(result, nullptr);
    m_comms->ReleaseRequest(request);
}

TEST_F(QuillonTest, RequestRefusesWhatCannotGoOnTheWire)
{
    EXPECT_EQ(m_comms->OpenRequest(kUserAgent, L"ftp://127.0.0.1/x", L"GET", 0), nullptr);
    EXPECT_EQ(m_comms->OpenRequest(kUserAgent, L"not a url", L"GET", 0), nullptr);
    EXPECT_EQ(m_comms->OpenRequest(kUserAgent, (m_server.BaseUrlW() + L"/x").c_str(), L"", 0), nullptr);

    ICommsRequest* request = m_comms->OpenRequest(kUserAgent, (m_server.BaseUrlW() + L"/x").c_str(), L"GET", 0);
    ASSERT_NE(request, nullptr);
    EXPECT_FALSE(request->AddHeader(L"x-a", L"1\r\nInjected: yes"));
    EXPECT_FALSE(request->AddHeader(L"x-b\r\nInjected", L"1"));
    EXPECT_FALSE(request->AddHeader(L"", L"1"));
    EXPECT_TRUE(request->AddHeader(L"x-c", L""));
    EXPECT_EQ(request->Send(nullptr, nullptr, 5), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    m_comms->ReleaseRequest(request);
    EXPECT_EQ(m_server.RequestCount(), 0u);
}

TEST_F(QuillonTest, SendSignedAddsTheAuthorizationOfTheRecord)
{
    m_server.ReplyJson("POST", "/api/v1/items", 200, "{}");
    AuthorizationRecord record;
    record.m_scheme = kAuthorizationScheme2;
    record.m_schemeName = L"KWS2";
    record.m_authorizationId = L"agent-1";
    record.m_secret = "s3cret";
    record.m_requestTime = FixedTime();
    record.m_signRequest = true;

    ICommsRequest* request =
        m_comms->OpenRequest(kUserAgent, (m_server.BaseUrlW() + L"/api/v1/items?a=1").c_str(), L"POST", 0);
    ASSERT_NE(request, nullptr);
    const std::string body = "{\"x\":1}";
    ASSERT_EQ(request->SendSigned(L"application/json", body.data(), static_cast<DWORD>(body.size()), 0, &record), 0u);
    auto* buffer = static_cast<wchar_t*>(request->TakeBuffer());
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(request->TakeBuffer(), nullptr);   // handed out once
    EXPECT_STREQ(buffer, L"KWS2 agent-1:CFlJJxjXi166eKxyjT7yqBZwmqgcSMHLykSHmUYygLk=");
    m_comms->ReleaseBuffer(buffer);
    m_comms->ReleaseRequest(request);

    // Scheme 1 leaves the body out of the signature.
    record.m_scheme = kAuthorizationScheme1;
    record.m_schemeName = L"KWS";
    ASSERT_EQ(Exchange(m_server.BaseUrlW() + L"/api/v1/items?a=1", L"POST", "{\"other\":2}", nullptr, nullptr,
                       &record),
              0u);

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("Authorization"), "KWS2 agent-1:CFlJJxjXi166eKxyjT7yqBZwmqgcSMHLykSHmUYygLk=");
    EXPECT_EQ(requests[0].Header("X-Signature-Date"), "2024-05-01T09:03:07.042Z");
    EXPECT_EQ(requests[0].body, body);
    EXPECT_EQ(requests[1].Header("Authorization"), "KWS agent-1:9qTK3sQOfp53QIa3CoNorJnwC14iNQszTTjU0RczIEA=");
}

TEST_F(QuillonTest, DownloadWritesTheFileOnlyForSuccess)
{
    const std::wstring served = m_install.Folder() + L"Repository\\";
    WriteBytes(served + L"package.zip", std::string("PK\x03\x04 package bytes", 19));
    m_server.ServeFiles("/files/", served);
    const std::wstring target = m_install.Folder() + L"download.tmp";

    ICommsRequest* request =
        m_comms->OpenRequest(kUserAgent, (m_server.BaseUrlW() + L"/files/package.zip").c_str(), L"GET", 10);
    ASSERT_NE(request, nullptr);
    ASSERT_EQ(request->DownloadToFile(target.c_str()), 0u);
    EXPECT_EQ(ReadBytes(target), std::string("PK\x03\x04 package bytes", 19));
    CommsResult* result = nullptr;
    ASSERT_EQ(request->GetResult(&result), 0u);
    EXPECT_EQ(result->m_status, 200u);
    EXPECT_EQ(result->m_content, nullptr);   // the body went to the file
    EXPECT_NE(std::wstring(result->m_headers).find(L"Last-Modified:"), std::wstring::npos);
    m_comms->ReleaseResult(result);
    m_comms->ReleaseRequest(request);

    // Not there: the status is reported and the file the caller had stays as it was.
    WriteBytes(target, "earlier");
    request = m_comms->OpenRequest(kUserAgent, (m_server.BaseUrlW() + L"/files/missing.zip").c_str(), L"GET", 10);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->DownloadToFile(target.c_str()), static_cast<DWORD>(ERROR_CONTINUE));
    ASSERT_EQ(request->GetResult(&result), 0u);
    EXPECT_EQ(result->m_status, 404u);
    m_comms->ReleaseResult(result);
    m_comms->ReleaseRequest(request);
    EXPECT_EQ(ReadBytes(target), "earlier");
    EXPECT_EQ(::GetFileAttributesW((target + L".part").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(QuillonTest, ExplicitProxyRouteIsUsedAndReported)
{
    CServerFixture proxy;
    m_server.ReplyJson("GET", "/via", 200, "{}");
    ICommsProxyList* list = m_comms->CreateProxyList();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(list->AddExplicit(Wide(proxy.HostAndPort()).c_str(), L"", L"", nullptr, false));

    ICommsRequest* request = m_comms->OpenRequest(kUserAgent, (m_server.BaseUrlW() + L"/via").c_str(), L"GET", 10);
    ASSERT_NE(request, nullptr);
    request->SetProxy(list);
    m_comms->ReleaseProxyList(list);   // the request keeps its own copy of the routes
    ASSERT_EQ(request->Send(nullptr, nullptr, 0), 0u);
    ICommsProxyConfig* used = m_comms->CreateEmptyProxyConfig();
    ASSERT_TRUE(request->GetProxyUsed(used));
    EXPECT_EQ(used->GetMode(), kProxyModeExplicit);
    EXPECT_EQ(std::wstring(used->GetProxyList()), Wide(proxy.HostAndPort()));
    m_comms->ReleaseProxyConfig(used);
    m_comms->ReleaseRequest(request);

    const auto forwarded = proxy.Requests();
    ASSERT_EQ(forwarded.size(), 1u);
    EXPECT_TRUE(forwarded[0].viaProxy);
    EXPECT_EQ(forwarded[0].proxyTarget, m_server.HostAndPort());
    ASSERT_EQ(m_server.RequestsTo("/via").size(), 1u);
}

TEST_F(QuillonTest, UnreachableRouteHandsOverOnlyWhenItMayFallBack)
{
    m_server.ReplyJson("GET", "/r", 200, "{}");
    const std::wstring deadProxy = L"127.0.0.1:" + std::to_wstring(DeadPort());
    const std::wstring url = m_server.BaseUrlW() + L"/r";

    for (const bool fallback : {true, false})
    {
        SCOPED_TRACE(fallback ? "fallback" : "no fallback");
        ICommsProxyList* list = m_comms->CreateProxyList();
        ICommsProxyConfig* dead = m_comms->CreateProxyConfig(kProxyModeExplicit, deadProxy.c_str(), L"", L"",
                                                             nullptr, nullptr, false, fallback);
        ASSERT_TRUE(list->AddProxyConfig(dead));
        ASSERT_TRUE(list->AddDirect(false));
        ICommsRequest* request = m_comms->OpenRequest(kUserAgent, url.c_str(), L"GET", 10);
        request->SetProxy(list);
        const DWORD error = request->Send(nullptr, nullptr, 0);
        ICommsProxyConfig* used = m_comms->CreateEmptyProxyConfig();
        if (fallback)
        {
            EXPECT_EQ(error, 0u);
            ASSERT_TRUE(request->GetProxyUsed(used));
            EXPECT_EQ(used->GetMode(), 0u);   // the direct route
        }
        else
        {
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT));
            EXPECT_FALSE(request->GetProxyUsed(used));
        }
        m_comms->ReleaseProxyConfig(used);
        m_comms->ReleaseRequest(request);
        m_comms->ReleaseProxyConfig(dead);
        m_comms->ReleaseProxyList(list);
    }
    EXPECT_EQ(m_server.RequestsTo("/r").size(), 1u);
}

TEST_F(QuillonTest, ProxyConfigurationsCompareByRoute)
{
    ICommsProxyConfig* a = m_comms->CreateProxyConfig(kProxyModeExplicit, L"p:1", L"u", L"pw", nullptr, nullptr,
                                                      false, true);
    ICommsProxyConfig* b = m_comms->CreateProxyConfig(kProxyModeExplicit, L"p:1", L"u", L"pw", nullptr, nullptr,
                                                      false, false);
    ICommsProxyConfig* c = m_comms->CreateProxyConfig(kProxyModeExplicit, L"p:2", L"u", L"pw", nullptr, nullptr,
                                                      false, true);
    ICommsProxyConfig* wpad = m_comms->CreateProxyConfig(kProxyModeWpad, nullptr, nullptr, nullptr, nullptr,
                                                         L"http://pac/x.pac", false, false);
    EXPECT_TRUE(a->Equals(b));   // fallback is not part of the route
    EXPECT_FALSE(a->Equals(c));
    EXPECT_FALSE(a->Equals(wpad));
    EXPECT_FALSE(a->Equals(nullptr));
    EXPECT_STREQ(wpad->GetWpadUrl(), L"http://pac/x.pac");
    EXPECT_STREQ(wpad->GetProxyList(), L"");   // absent texts are empty, never null
    EXPECT_TRUE(a->GetFallback());
    for (ICommsProxyConfig* config : {a, b, c, wpad})
        m_comms->ReleaseProxyConfig(config);
}

TEST_F(QuillonTest, DataServiceClientUploadsWithItsSettings)
{
    m_server.StoreUploads("/data/", m_install.Folder() + L"Repository");
    m_server.ReplyJson("POST", "/data/upload/events/messages", 202, "");
    const std::wstring file = m_install.Folder() + L"report.txt";
    WriteBytes(file, "report body");

    AuthorizationRecord record;
    record.m_scheme = kAuthorizationScheme2;
    record.m_schemeName = L"KWS2";
    record.m_authorizationId = L"svc";
    record.m_secret = std::string(100, 'k');   // longer than a block: hashed first
    record.m_requestTime = FixedTime();
    record.m_signRequest = false;
    IDataServiceClient* client =
        m_comms->CreateDataServiceClient(kUserAgent, m_server.BaseUrlW().c_str(), L"upload", 12, L"1.2", L"dev-1",
                                         &record, L"/data/", L"site-9");
    ASSERT_NE(client, nullptr);

    const DataServiceHeaders headers{{L"x-korvo-metadata-status-code", L"0"}, {L"x-korvo-metadata-a", L"2"}};
    EXPECT_TRUE(client->UploadToDataContainer(L"op-1", L"owner-1", file.c_str(), L"text/plain", headers));
    EXPECT_TRUE(client->UploadFile(L"box", L"..", file.c_str()));
    EXPECT_TRUE(client->SendToQueue(L"events", L"h\u00e9llo", L"lbl"));
    EXPECT_FALSE(client->UploadToDataContainer(L"op-1", L"owner-1", (file + L".missing").c_str(), L"", headers));
    m_comms->ReleaseDataServiceClient(client);

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    const CRecordedRequest& upload = requests[0];
    EXPECT_EQ(upload.method, "PUT");
    EXPECT_EQ(upload.path, "/data/upload/op-1/report.txt");
    EXPECT_EQ(upload.body, "report body");
    EXPECT_EQ(upload.Header("Content-Type"), "text/plain");
    EXPECT_EQ(upload.Header("x-operation-id"), "op-1");
    EXPECT_EQ(upload.Header("x-owner"), "owner-1");
    EXPECT_EQ(upload.Header("x-korvo-metadata-a"), "2");
    EXPECT_EQ(upload.Header("x-korvo-metadata-status-code"), "0");
    EXPECT_EQ(upload.Header("x-device-id"), "dev-1");
    EXPECT_EQ(upload.Header("x-site-id"), "site-9");
    EXPECT_EQ(upload.Header("x-product"), "12");
    EXPECT_EQ(upload.Header("x-product-version"), "1.2");
    EXPECT_EQ(upload.Header("Authorization"), "KWS2 svc:afxvxvmUB6rfa4+6/H6uPHFJOY2JQ4o38O/jlp3HS7g=");
    // A name cannot climb out of its container.
    EXPECT_EQ(requests[1].path, "/data/upload/box/%2E%2E");
    EXPECT_EQ(requests[2].method, "POST");
    EXPECT_EQ(requests[2].body, "h\xC3\xA9llo");
    EXPECT_EQ(requests[2].Header("x-message-label"), "lbl");
}

TEST_F(QuillonTest, DataServiceFailuresAreFalse)
{
    m_server.ReplyJson("PUT", "/svc/op/f.bin", 500, "{}");
    const std::wstring file = m_install.Folder() + L"f.bin";
    WriteBytes(file, "x");
    EXPECT_EQ(m_comms->CreateDataServiceClient(kUserAgent, L"", L"svc", 0, L"", L"", nullptr, L"", L""), nullptr);
    IDataServiceClient* client = m_comms->CreateDataServiceClient(kUserAgent, m_server.BaseUrlW().c_str(), L"svc", 0,
                                                                  L"", L"d", nullptr, L"", L"s");
    ASSERT_NE(client, nullptr);
    EXPECT_FALSE(client->UploadToDataContainer(L"op", L"", file.c_str(), L"", {}));
    EXPECT_FALSE(client->UploadToDataContainer(L"op", L"", file.c_str(), L"", {{L"bad\r\nname", L"v"}}));
    EXPECT_FALSE(client->UploadToDataContainer(L"", L"", file.c_str(), L"", {}));
    m_comms->ReleaseDataServiceClient(client);
    EXPECT_EQ(m_server.RequestCount(), 1u);   // only the first reached the server
}

TEST_F(QuillonTest, SplitUrlGivesThePathInPlace)
{
    struct Row
    {
        const wchar_t* url;
        const wchar_t* path;
    };
    for (const Row& row : {Row{L"http://srv/dir/file.zip?x=1", L"/dir/file.zip"},
                           Row{L"https://srv:8443/a%20b/c", L"/a%20b/c"}, Row{L"http://srv", L""},
                           Row{L"http://srv/", L"/"}})
    {
        SCOPED_TRACE(testing::Message() << std::string(row.url, row.url + wcslen(row.url)));
        CommsUrlComponents components{};
        ASSERT_TRUE(m_comms->SplitUrl(row.url, &components));
        EXPECT_EQ(std::wstring(components.m_path, components.m_pathLength), row.path);
        if (components.m_pathLength != 0)
        {
            EXPECT_GE(components.m_path, row.url);   // points into the caller's text
        }
    }
    CommsUrlComponents components{};
    ::SetLastError(0);
    EXPECT_FALSE(m_comms->SplitUrl(L"no scheme here", &components));
    EXPECT_NE(::GetLastError(), 0u);
}

TEST_F(QuillonTest, TrackingHitIsOneGetWithIdentityAndOrderedParameters)
{
    m_server.ReplyJson("GET", "/track", 200, "");
    ITrackingRequest* hit = m_comms->CreateTrackingRequest((m_server.BaseUrlW() + L"/track?trackIndex=5").c_str());
    ASSERT_NE(hit, nullptr);
    hit->SetIdentity(L"1103", L"n 1", L"0", L"muid", L"0", L"1", L"a&b");
    hit->AddParameter(L"_oi", L"10");
    hit->AddParameter(L"zeta", L"\u00fc=");
    hit->AddParameter(L"alpha", L"");
    EXPECT_TRUE(hit->Send(0));
    m_comms->ReleaseTrackingRequest(&hit);
    EXPECT_EQ(hit, nullptr);

    const auto requests = m_server.RequestsTo("/track");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].query, "trackIndex=5&_id1=1103&_id2=n%201&_id3=0&_id4=muid&_id5=0&_id6=1&_id7=a%26b"
                                 "&_oi=10&zeta=%C3%BC%3D&alpha=");

    m_server.ReplyJson("GET", "/track", 503, "");
    hit = m_comms->CreateTrackingRequest((m_server.BaseUrlW() + L"/track").c_str());
    ASSERT_NE(hit, nullptr);
    EXPECT_FALSE(hit->Send(0));
    m_comms->ReleaseTrackingRequest(&hit);
}

TEST_F(QuillonTest, FaultKeysRefuseAndFailAsConfigured)
{
    const std::wstring url = m_server.BaseUrlW() + L"/x";
    SetFaults("{\"Quillon.Fault.RefuseRequest\": true, \"Quillon.Fault.RefuseTrackingRequest\": \"1\","
              " \"Quillon.Fault.RefuseDataServiceClient\": true, \"Quillon.Fault.FailSplitUrl\": true}");
    EXPECT_EQ(m_comms->OpenRequest(kUserAgent, url.c_str(), L"GET", 0), nullptr);
    EXPECT_EQ(m_comms->CreateTrackingRequest(url.c_str()), nullptr);
    EXPECT_EQ(m_comms->CreateDataServiceClient(kUserAgent, url.c_str(), L"s", 0, L"", L"", nullptr, L"", L""),
              nullptr);
    CommsUrlComponents components{};
    ::SetLastError(0);
    EXPECT_FALSE(m_comms->SplitUrl(url.c_str(), &components));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_INVALID_URL));

    // Switched on between two calls of the same objects.
    SetFaults("{}");
    ICommsRequest* request = m_comms->OpenRequest(kUserAgent, url.c_str(), L"GET", 0);
    ITrackingRequest* hit = m_comms->CreateTrackingRequest(url.c_str());
    ASSERT_TRUE(request && hit);
    SetFaults("{\"Quillon.Fault.FailSend\": 1460, \"Quillon.Fault.NoInterface\": true}");
    EXPECT_EQ(request->Send(nullptr, nullptr, 0), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_FALSE(hit->Send(0));
    EXPECT_EQ(m_get(), nullptr);
    SetFaults("{\"Quillon.Fault.FailSend\": true}");
    EXPECT_EQ(request->Send(nullptr, nullptr, 0), static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT));
    EXPECT_EQ(m_server.RequestCount(), 0u);

    SetFaults("{\"Quillon.Fault.DelayMs\": 300}");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(request->Send(nullptr, nullptr, 0), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 290ms);
    m_comms->ReleaseRequest(request);
    m_comms->ReleaseTrackingRequest(&hit);
}

TEST_F(QuillonTest, EveryObjectIsCountedUntilGivenBackAndStrangersAreIgnored)
{
    const DWORD base = m_outstanding();   // the interface itself
    EXPECT_EQ(base, 1u);
    ICommsWrapper* second = m_get();
    ICommsProxyList* list = m_comms->CreateProxyList();
    ICertificateTrust* trust = m_comms->CreateCertificateTrust();
    ITrackingRequest* hit = m_comms->CreateTrackingRequest((m_server.BaseUrlW() + L"/t").c_str());
    ASSERT_TRUE(second && list && trust && hit);
    const wchar_t* certificates[] = {L"ab:cd", nullptr, L""};
    trust->SetEnabled(false);
    trust->AddTrustedCertificates(L"example.com", 3, certificates);
    EXPECT_EQ(m_outstanding(), base + 4);

    // Given back through the wrong slot, twice, or never handed out: nothing is freed.
    m_comms->ReleaseProxyConfig(reinterpret_cast<ICommsProxyConfig*>(list));
    int stranger = 0;
    m_comms->ReleaseBuffer(&stranger);
    m_comms->ReleaseResult(reinterpret_cast<CommsResult*>(&stranger));
    EXPECT_EQ(m_outstanding(), base + 4);

    m_comms->ReleaseProxyList(list);
    m_comms->ReleaseProxyList(list);
    m_comms->ReleaseCertificateTrust(trust);
    m_comms->ReleaseTrackingRequest(&hit);
    m_comms->ReleaseTrackingRequest(&hit);   // cleared: a second call sees null
    m_free(&second);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(m_outstanding(), base);
}

TEST(QuillonLegacyTest, TheLegacyLibraryIsTheSameComponent)
{
    CAgentInstall install;
    ASSERT_TRUE(install.Add(L"QuillonLC.dll", L"Utils"));
    CModule library(::LoadLibraryExW((install.Folder() + L"Utils\\QuillonLC.dll").c_str(), nullptr,
                                     LOAD_WITH_ALTERED_SEARCH_PATH));
    ASSERT_TRUE(library);
    const auto get = Export<GetICommsWrapperFn>(library.Get(), "GetICommsWrapper");
    const auto release = Export<FreeICommsWrapperFn>(library.Get(), "FreeICommsWrapper");
    const auto outstanding = Export<QuillonOutstandingObjectsFn>(library.Get(), "QuillonOutstandingObjects");
    ASSERT_TRUE(get && release && outstanding);
    ICommsWrapper* comms = get();
    ASSERT_NE(comms, nullptr);
    CommsUrlComponents components{};
    EXPECT_TRUE(comms->SplitUrl(L"http://srv/a/b", &components));
    EXPECT_EQ(components.m_pathLength, 4u);
    release(&comms);
    EXPECT_EQ(outstanding(), 0u);
}

} // namespace
