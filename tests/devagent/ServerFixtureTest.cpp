#include "CAgentInstall.h"
#include "CServerFixture.h"
#include "CSocket.h"
#include "TestFiles.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <string>

namespace
{

// Sends bytes exactly as given and reads the reply until the server closes the connection.
std::string RawExchange(const std::string& host, unsigned short port, const std::string& request)
{
    const CSocket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in addr{AF_INET, htons(port), {}, {}};
    inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
    const DWORD timeout = 5000;
    setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    std::string reply;
    char buffer[4096];
    if (connect(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        send(s.Get(), request.data(), static_cast<int>(request.size()), 0) > 0)
        for (int n; (n = recv(s.Get(), buffer, sizeof(buffer), 0)) > 0;)
            reply.append(buffer, static_cast<size_t>(n));
    return reply;
}

// The status line of a raw GET.
std::string GetStatus(const CServerFixture& server, const std::string& target)
{
    return RawExchange(server.Host(), server.Port(),
                       "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        .substr(0, 12);
}

// A failed request gives status -1 rather than a null result.
httplib::Response Must(const httplib::Result& result)
{
    return result ? result.value() : httplib::Response{};
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

TEST(ServerFixtureRecording, KeepsEachRequestAsSentApartFromOthersOnItsConnection)
{
    CServerFixture server;
    httplib::Client client(server.Host(), server.Port());
    client.set_keep_alive(true);
    ASSERT_TRUE(client.Post("/first", std::string(5000, 'a'), "text/plain")); // longer than one socket read
    ASSERT_TRUE(client.Get("/second", httplib::Headers{{"X-N", "2"}}));
    RawExchange(server.Host(), server.Port(),
                "POST /chunked HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                "4\r\nabcd\r\n3\r\nefg\r\n0\r\n\r\n");

    const auto r = server.Requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].body, std::string(5000, 'a'));
    EXPECT_EQ(Line(r[1]), "GET /second ?  -> 404 : ");
    EXPECT_EQ(r[1].Header("X-N"), "2");
    EXPECT_EQ(r[2].body, "abcdefg");
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
    EXPECT_EQ(raw.headers, (CHttpHeaders{{"Zeta", "z"},
                                         {"Host", "h"},
                                         {"X-Twice", "one"},
                                         {"Alpha", "padded folded"},
                                         {"X-Twice", "two"},
                                         {"Content-Length", "7"},
                                         {"Connection", "close"}}));
    EXPECT_EQ(raw.Header("x-twice"), "one");
    EXPECT_FALSE(raw.HasHeader("REMOTE_ADDR"));
}

TEST(ServerFixtureFiles, ServesOnlyFilesInsideTheFolderAndStoresUploadsWithoutOverwriting)
{
    CAgentInstall area;
    WriteBytes(area.Folder() + L"secret.txt", "secret");
    const std::wstring served = area.Folder() + L"served\\", uploads = area.Folder() + L"uploads\\";
    CreateDirectoryW(served.c_str(), nullptr);
    CreateDirectoryW((served + L"pkg").c_str(), nullptr);
    CServerFixture server;
    server.ServeFiles("/files/", served);
    server.StoreUploads("/data/", uploads, CScriptedReply{201, {}, {}, "text/plain", {}}); // makes the folder
    httplib::Client client(server.Host(), server.Port());

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

TEST(ServerFixtureProxy, ForwardsKeepingTheHeaderOrderAndRefusesOtherTargets)
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
    EXPECT_EQ(atOrigin.headers, (CHttpHeaders{{"Zeta", "1"},
                                              {"Host", origin.HostAndPort()},
                                              {"Alpha", "2"},
                                              {"Content-Length", "3"},
                                              {"Connection", "close"}}));

    // Other targets are refused.
    origin.ClearRequests();
    proxy.ClearRequests();
    EXPECT_EQ(GetStatus(proxy, "http://192.0.2.1:8080/x"), "HTTP/1.1 502"); // never contacted
    const std::string gone = CServerFixture().BaseUrl();                    // stopped again at once
    EXPECT_EQ(GetStatus(proxy, gone + "/x"), "HTTP/1.1 502");
    EXPECT_EQ(origin.RequestCount(), 0u);
    ASSERT_EQ(proxy.RequestCount(), 2u);
    EXPECT_EQ(proxy.Requests()[0].proxyTarget, "192.0.2.1:8080");
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
