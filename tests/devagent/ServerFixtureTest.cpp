#include "CAgentInstall.h"
#include "CServerFixture.h"
#include "CSocket.h"
#include "TestFiles.h"

#include "platform/CUniqueHandle.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace
{

using namespace std::chrono_literals;

// Sends bytes exactly as given and reads the reply until the server closes the connection; with an empty
// request only tells (in *connected) whether a connection is taken.
std::string RawExchange(const std::string& host, unsigned short port, const std::string& request,
                        bool* connected = nullptr)
{
    const CSocket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in addr{AF_INET, htons(port), {}, {}};
    inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
    const DWORD timeout = 5000;
    setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    const bool ok = connect(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    if (connected)
        *connected = ok;
    std::string reply;
    char buffer[4096];
    if (ok && !request.empty() && send(s.Get(), request.data(), static_cast<int>(request.size()), 0) > 0)
        for (int n; (n = recv(s.Get(), buffer, sizeof(buffer), 0)) > 0;)
            reply.append(buffer, static_cast<size_t>(n));
    return reply;
}

bool CanConnect(const std::string& host, unsigned short port)
{
    bool connected = false;
    return RawExchange(host, port, "", &connected), connected;
}

// The status line of a raw GET.
std::string GetStatus(const CServerFixture& server, const std::string& target, const std::string& extraHeaders = "")
{
    return RawExchange(server.Host(), server.Port(),
                       "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + extraHeaders + "Connection: close\r\n\r\n")
        .substr(0, 12);
}

void WriteFileAt(const std::wstring& path, const std::string& content, std::time_t modified)
{
    WriteBytes(path, content);
    const CFileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    const unsigned long long ticks = static_cast<unsigned long long>(modified) * 10000000ULL + 116444736000000000ULL;
    const FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    EXPECT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &ft));
}

// A failed request gives status -1 rather than a null result.
httplib::Response Must(const httplib::Result& result)
{
    return result ? result.value() : httplib::Response{};
}

// "status [header value] body" of an answer.
std::string Answer(const httplib::Result& result, const char* header = nullptr)
{
    const httplib::Response res = Must(result);
    return std::to_string(res.status) + (header ? " " + res.get_header_value(header) : "") + " " + res.body;
}

// "METHOD path ? query -> status [via target] : body" of a recorded request.
std::string Line(const CRecordedRequest& r)
{
    return r.method + " " + r.path + " ? " + r.query + " -> " + std::to_string(r.status) +
           (r.viaProxy ? " via " + r.proxyTarget : "") + " : " + r.body;
}

const std::time_t kFileTime = 1700000000;
const char* const kFileDate = "Tue, 14 Nov 2023 22:13:20 GMT";

} // namespace

TEST(ServerFixtureRecording, KeepsEachRequestAsSentApartFromOthersOnItsConnectionAndWaitsForLaterOnes)
{
    CServerFixture server;
    httplib::Client client(server.Host(), server.Port());
    client.set_keep_alive(true);
    ASSERT_TRUE(client.Post("/first", std::string(5000, 'a'), "text/plain")); // longer than one socket read
    ASSERT_TRUE(client.Get("/second", httplib::Headers{{"X-N", "2"}}));
    ASSERT_TRUE(
        client.Post("/form", httplib::MultipartFormDataItems{{"file", "payload-bytes", "log.txt", "text/plain"}}));
    std::thread later([&] {
        std::this_thread::sleep_for(100ms);
        RawExchange(server.Host(), server.Port(),
                    "POST /chunked HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                    "4\r\nabcd\r\n3\r\nefg\r\n0\r\n\r\n");
    });
    EXPECT_FALSE(server.WaitForRequests(4, 50ms));
    EXPECT_TRUE(server.WaitForRequests(4, 5s));
    later.join();

    const auto r = server.Requests();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].body, std::string(5000, 'a'));
    EXPECT_EQ(Line(r[1]), "GET /second ?  -> 404 : ");
    EXPECT_EQ(r[1].Header("X-N"), "2");
    EXPECT_NE(r[2].body.find("filename=\"log.txt\""), std::string::npos); // multipart kept as it came
    EXPECT_NE(r[2].body.find("payload-bytes"), std::string::npos);
    EXPECT_EQ(r[3].body, "abcdefg");
    EXPECT_EQ(server.RequestsTo("/second").size(), 1u);
    server.ClearRequests();
    EXPECT_EQ(server.RequestCount(), 0u);

    const std::string reply = RawExchange(server.Host(), server.Port(),
                                          "POST /api/Track%20Send?x=1&y=%2F&flag&s=a+b%3d%zz HTTP/1.1\r\n"
                                          "Zeta: z\r\nHost: h\r\nX-Twice: one\r\nAlpha:   padded  \r\n\tfolded\r\n"
                                          "X-Twice: two\r\nContent-Length: 7\r\nConnection: close\r\n\r\n{\"a\":1}");
    EXPECT_EQ(reply.substr(0, 12), "HTTP/1.1 404") << reply;

    ASSERT_EQ(server.RequestCount(), 1u);
    const CRecordedRequest raw = server.Requests()[0];
    EXPECT_EQ(raw.target, "/api/Track%20Send?x=1&y=%2F&flag&s=a+b%3d%zz");
    EXPECT_EQ(Line(raw), "POST /api/Track%20Send ? x=1&y=%2F&flag&s=a+b%3d%zz -> 404 : {\"a\":1}");
    EXPECT_EQ(raw.QueryPairs(), (CQueryPairs{{"x", "1"}, {"y", "/"}, {"flag", ""}, {"s", "a+b=%zz"}}));
    EXPECT_EQ(raw.remoteAddress, "127.0.0.1");
    // In the order sent, and none that the parser adds of its own.
    EXPECT_EQ(raw.headers, (CHttpHeaders{{"Zeta", "z"}, {"Host", "h"}, {"X-Twice", "one"}, {"Alpha", "padded folded"},
                                         {"X-Twice", "two"}, {"Content-Length", "7"}, {"Connection", "close"}}));
    EXPECT_EQ(raw.Header("x-twice"), "one");
    EXPECT_FALSE(raw.HasHeader("REMOTE_ADDR"));
}

TEST(ServerFixtureReplies, MatchesMethodAndPathExactlyOrByPrefixTryingLaterAndCountedScriptsFirst)
{
    CServerFixture server;
    const std::string actions = R"({"Actions":[{"Name":"Reregister"}]})";
    server.ReplyJson("POST", "/api/register", 403, actions);
    server.Reply("GET", "/repository/",
                 CScriptedReply{200, {{"X-Served", "prefix"}}, "repo", "application/octet-stream", {}},
                 EPathMatch::Prefix);
    server.Reply("", "/any", CScriptedReply{200, {{"Content-Type", "text/xml"}}, "<a/>", "application/json", {}});
    httplib::Client client(server.Host(), server.Port());

    EXPECT_EQ(Answer(client.Post("/api/register", std::string("{}"), "application/json"), "Content-Type"),
              "403 application/json " + actions);
    EXPECT_EQ(Answer(client.Get("/repository/pkg/1.0/file.cab"), "X-Served"), "200 prefix repo");
    const auto res = Must(client.Delete("/any"));
    EXPECT_EQ(res.get_header_value("Content-Type"), "text/xml"); // the test's header, not the default
    EXPECT_EQ(res.get_header_value_count("Content-Type"), 1u);

    // Other method, longer path under an exact script, sibling of a prefix: unscripted.
    EXPECT_EQ(Must(client.Get("/api/register")).status, 404);
    EXPECT_EQ(Must(client.Post("/api/register/x", std::string("{}"), "application/json")).status, 404);
    EXPECT_EQ(Must(client.Get("/repositoryX")).status, 404);
    EXPECT_EQ(server.RequestCount(), 6u);
    EXPECT_EQ(server.Requests()[4].status, 404);

    // Later and counted scripts are tried first.
    server.ReplyJson("POST", "/upload", 200, "{}");
    server.ReplyJson("POST", "/upload", 503, "{}", 2);
    server.ReplyWith("GET", "/echo", EPathMatch::Exact, [](const CRecordedRequest& r) {
        return CScriptedReply{r.Header("X-Want") == "teapot" ? 418 : 200, {}, r.query, "text/plain", {}};
    });
    std::vector<int> statuses;
    for (int i = 0; i < 4; ++i)
        statuses.push_back(Must(client.Post("/upload", std::string("x"), "text/plain")).status);
    EXPECT_EQ(statuses, (std::vector<int>{503, 503, 200, 200}));
    EXPECT_EQ(Answer(client.Get("/echo?k=v", httplib::Headers{{"X-Want", "teapot"}})), "418 k=v");

    server.ClearReplies();
    EXPECT_EQ(Must(client.Post("/upload", std::string("x"), "text/plain")).status, 404);
}

TEST(ServerFixtureFiles, ServesFilesInsideTheFolderAnswering304WhenUnchangedAndStoresUploadsWithoutOverwriting)
{
    CAgentInstall area;
    WriteFileAt(area.Folder() + L"secret.txt", "secret", kFileTime);
    const std::wstring served = area.Folder() + L"served\\", uploads = area.Folder() + L"uploads\\";
    CreateDirectoryW(served.c_str(), nullptr);
    CreateDirectoryW((served + L"pkg").c_str(), nullptr);
    WriteFileAt(served + L"pkg\\plug in.zip", "zip-content", kFileTime);
    CServerFixture server;
    server.ServeFiles("/files/", served);
    server.StoreUploads("/data/", uploads, CScriptedReply{201, {}, {}, "text/plain", {}}); // makes the folder
    httplib::Client client(server.Host(), server.Port());
    const std::string path = "/files/pkg/plug%20in.zip";

    // No date, a second before the file's time, or not a date: it comes in full; at its time: 304.
    for (const char* since : {"", "Tue, 14 Nov 2023 22:13:19 GMT", "not a date", kFileDate})
    {
        SCOPED_TRACE(since);
        const auto headers = *since ? httplib::Headers{{"If-Modified-Since", since}} : httplib::Headers{};
        const bool unchanged = std::string(since) == kFileDate;
        EXPECT_EQ(Answer(client.Get(path, headers), "Last-Modified"),
                  (unchanged ? "304 " : "200 ") + std::string(kFileDate) + (unchanged ? " " : " zip-content"));
    }
    EXPECT_EQ(Answer(client.Head(path), "Content-Length"), "200 11 ");
    EXPECT_EQ(Must(client.Put(path, std::string("x"), "text/plain")).status, 404); // not a download

    for (const char* missing : {"/files/missing.bin", "/files/pkg", "/files/"}) // a folder is no file either
        EXPECT_EQ(GetStatus(server, missing), "HTTP/1.1 404") << missing;
    for (const char* path : {"/files/../secret.txt", "/files/%2E%2E/secret.txt", "/files/pkg%5C..%5C..%5Csecret.txt"})
        EXPECT_EQ(GetStatus(server, path), "HTTP/1.1 403") << path;

    server.ClearRequests();
    const std::string binary("\x00\x01\xff\r\n\x00z", 7);
    EXPECT_EQ(Must(client.Put("/data/c/report%201.bin", binary, "application/octet-stream")).status, 201);
    EXPECT_EQ(Must(client.Post("/data/c/report%201.bin", std::string("retry"), "text/plain")).status, 201);
    EXPECT_EQ(Must(client.Post("/data/c/a%3Ab%2A", std::string("odd"), "text/plain")).status, 201);
    EXPECT_EQ(Must(client.Get("/data/c/report%201.bin")).status, 404);

    const auto r = server.Requests();
    ASSERT_EQ(r.size(), 4u);
    const std::pair<std::wstring, std::string> stored[] = {
        {L"report 1.bin", binary}, {L"report 1.bin.1", "retry"}, {L"a_b_", "odd"}};
    for (std::size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(r[i].storedFile, uploads + stored[i].first);
        EXPECT_EQ(ReadBytes(uploads + stored[i].first), stored[i].second);
    }
}

TEST(ServerFixtureProxy, ForwardsKeepingTheHeaderOrderPassesAnswersOnAndRefusesOtherTargets)
{
    CServerFixture origin;
    CServerFixture proxy;
    origin.Reply("POST", "/repo/", CScriptedReply{202, {{"Last-Modified", kFileDate}}, "payload", "text/plain", {}},
                 EPathMatch::Prefix);

    const std::string reply =
        RawExchange(proxy.Host(), proxy.Port(),
                    "POST " + origin.BaseUrl() +
                        "/repo/a%20b.cab?id=7 HTTP/1.1\r\n"
                        "Zeta: 1\r\nHost: " +
                        origin.HostAndPort() +
                        "\r\nProxy-Connection: Keep-Alive\r\n"
                        "Alpha: 2\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\nContent-Length: 3\r\n"
                        "Connection: close\r\n\r\nhit");
    EXPECT_EQ(reply.substr(0, 12), "HTTP/1.1 202") << reply;
    EXPECT_NE(reply.find(std::string("Last-Modified: ") + kFileDate), std::string::npos) << reply;
    EXPECT_EQ(reply.substr(reply.size() - 7), "payload");

    ASSERT_EQ(proxy.RequestCount(), 1u);
    const CRecordedRequest atProxy = proxy.Requests()[0];
    EXPECT_EQ(Line(atProxy), "POST /repo/a%20b.cab ? id=7 -> 202 via " + origin.HostAndPort() + " : hit");
    EXPECT_TRUE(atProxy.HasHeader("Proxy-Authorization"));

    ASSERT_EQ(origin.RequestCount(), 1u);
    const CRecordedRequest atOrigin = origin.Requests()[0];
    EXPECT_EQ(Line(atOrigin), "POST /repo/a%20b.cab ? id=7 -> 202 : hit");
    EXPECT_EQ(atOrigin.target, "/repo/a%20b.cab?id=7"); // not decoded on the way
    // Without the proxy's own, and none that the client adds.
    EXPECT_EQ(atOrigin.headers, (CHttpHeaders{{"Zeta", "1"}, {"Host", origin.HostAndPort()}, {"Alpha", "2"},
                                              {"Content-Length", "3"}, {"Connection", "close"}}));

    // What Wine's WinHTTP sends to a proxy on 127.0.0.1 for a server on 127.0.0.1: the origin form.
    origin.ReplyJson("PUT", "/api/y", 200, "{}");
    EXPECT_EQ(RawExchange(proxy.Host(), proxy.Port(), "PUT /api/y HTTP/1.1\r\nHost: " + origin.HostAndPort() +
                                                          "\r\nContent-Length: 2\r\nConnection: close\r\n\r\nab")
                  .substr(0, 12),
              "HTTP/1.1 200");
    EXPECT_EQ(Line(proxy.Requests().at(1)), "PUT /api/y ?  -> 200 via " + origin.HostAndPort() + " : ab");
    EXPECT_EQ(Line(origin.Requests().at(1)), "PUT /api/y ?  -> 200 : ab"); // its own port
    // A Host that is not a loopback address is taken as the fixture's own name.
    EXPECT_EQ(GetStatus(proxy, "/z", "Host: server.example:8443\r\n"), "HTTP/1.1 404");
    EXPECT_FALSE(proxy.Requests().at(2).viaProxy);

    // Answers are passed on as given; other targets are refused, or answered by the proxy itself.
    const std::string large(300 * 1024, 'L');
    origin.Reply("GET", "/large", CScriptedReply{200, {}, large, "application/octet-stream", {}});
    origin.Reply("DELETE", "/gone", CScriptedReply{204, {{"X-Done", "1"}}, {}, {}, {}});
    httplib::Client viaProxy(origin.Host(), origin.Port());
    viaProxy.set_proxy(proxy.Host(), proxy.Port());
    EXPECT_EQ(Answer(viaProxy.Get("/large"), "Content-Type"), "200 application/octet-stream " + large);
    EXPECT_EQ(Must(viaProxy.Head("/large")).status, 404); // HEAD is not scripted at the origin
    EXPECT_EQ(Answer(viaProxy.Delete("/gone"), "X-Done"), "204 1 ");
    ASSERT_EQ(origin.RequestCount(), 5u);

    origin.ClearRequests();
    proxy.ClearRequests();
    EXPECT_EQ(GetStatus(proxy, "http://192.0.2.1:8080/x"), "HTTP/1.1 502"); // never contacted
    const std::string gone = CServerFixture().BaseUrl(); // stopped again at once
    EXPECT_EQ(GetStatus(proxy, gone + "/x"), "HTTP/1.1 502");

    proxy.ReplyToProxyRequests(CScriptedReply{407, {{"Proxy-Authenticate", "Basic realm=\"p\""}}, {}, {}, {}});
    EXPECT_EQ(Answer(viaProxy.Get("/api/x"), "Proxy-Authenticate"), "407 Basic realm=\"p\" ");
    EXPECT_EQ(origin.RequestCount(), 0u);
    ASSERT_EQ(proxy.RequestCount(), 3u);
    EXPECT_EQ(proxy.Requests()[0].proxyTarget, "192.0.2.1:8080");
}

TEST(ServerFixtureLifecycle, ListensOnLoopbackOnlyOnItsOwnPortAndStopsPromptlyWithOpenConnectionsOrWhenIdle)
{
    auto server = std::make_unique<CServerFixture>();
    const unsigned short port = server->Port();
    ASSERT_TRUE(server->IsRunning());
    EXPECT_NE(port, 0);
    EXPECT_NE(port, CServerFixture().Port());
    EXPECT_EQ(server->BaseUrl(), "http://127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(server->BaseUrlW(), L"http://127.0.0.1:" + std::to_wstring(port));
    EXPECT_TRUE(CanConnect("127.0.0.1", port));
    // Loopback too, but not the address it is bound to: a wildcard bind would take it.
    EXPECT_FALSE(CanConnect("127.0.0.2", port));

    // An open connection and a pending reply do not hold the stop up.
    server->Reply("GET", "/slow", CScriptedReply{200, {}, {}, {}, 30s});
    httplib::Client keeper(server->Host(), port);
    keeper.set_keep_alive(true);
    ASSERT_TRUE(keeper.Get("/kept"));
    std::thread waiting([port] { httplib::Client("127.0.0.1", port).Get("/slow"); });
    ASSERT_TRUE(server->WaitForRequests(2, 5s));

    const auto start = std::chrono::steady_clock::now();
    server.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    waiting.join();
    EXPECT_FALSE(CanConnect("127.0.0.1", port));

    CServerFixture idle(std::chrono::seconds(1));
    std::this_thread::sleep_for(700ms);
    ASSERT_TRUE(httplib::Client(idle.Host(), idle.Port()).Get("/keeps-it-alive"));
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(idle.IsRunning()); // 1.4 s since start, but 0.7 s since the request

    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (idle.IsRunning() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(idle.IsRunning());
    EXPECT_FALSE(CanConnect(idle.Host(), idle.Port()));
}

TEST(ServerFixtureHttpDate, FormatsAndParsesImfFixdate)
{
    // The last is the latest that a 32-bit time_t (i686) holds.
    const std::pair<std::time_t, const char*> rows[] = {{0, "Thu, 01 Jan 1970 00:00:00 GMT"},
                                                        {784111777, "Sun, 06 Nov 1994 08:49:37 GMT"},
                                                        {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
                                                        {kFileTime, kFileDate},
                                                        {2145916799, "Thu, 31 Dec 2037 23:59:59 GMT"}};
    std::time_t t = 0;
    for (const auto& [utc, text] : rows)
    {
        EXPECT_EQ(CServerFixture::HttpDate(utc), text);
        EXPECT_TRUE(CServerFixture::ParseHttpDate(text, t) && t == utc) << text;
    }
    for (const char* bad :
         {"", "Sun, 06 Nov 1994 08:49:37", "Sun, 06 Foo 1994 08:49:37 GMT", "Sun, 06 Nov 1994 25:49:37 GMT",
          "Sunday, 06-Nov-94 08:49:37 GMT", "Sun 06 Nov 1994 08:49:37 GMT"})
        EXPECT_FALSE(CServerFixture::ParseHttpDate(bad, t)) << bad;
    EXPECT_EQ(t, 2145916799); // left as it was
}
