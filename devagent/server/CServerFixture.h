#pragma once
// The management server as the tests and the demo see it: a real HTTP server on 127.0.0.1, on a port the
// system picks, running in this process on its own threads. It records every request it is sent and
// answers from replies the test scripts; anything unscripted gets 404 (and is recorded all the same).
// Requests in absolute form ("GET http://127.0.0.1:port/x HTTP/1.1") are forwarded to that address, so a
// second instance can stand where an explicit proxy stands. Only loopback targets are forwarded; headers
// go on in the order sent, without the hop-by-hop ones.
//
// Texts are UTF-8 (or bytes, for bodies). Thread-safe: the test thread may script and read while the
// server threads answer.

#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using CHttpHeaders = std::vector<std::pair<std::string, std::string>>;
using CQueryPairs = std::vector<std::pair<std::string, std::string>>;

struct CRecordedRequest
{
    std::string method;
    std::string target;        // as on the request line
    std::string path;          // the target's path, still percent-encoded; for absolute form without scheme and host
    std::string query;         // after '?', without it; empty when there is none
    CHttpHeaders headers;      // every header line, in the order sent, names as sent
    std::string body;          // as received (de-chunked)
    std::string remoteAddress; // the client's address
    // The request was meant for another server: its target was in absolute form, or (as Wine's WinHTTP
    // sends it when proxy and server differ only by port) its Host header names another loopback port.
    bool viaProxy = false;
    std::string proxyTarget;   // then: "host:port" of the server meant
    int status = 0;            // the status this fixture answered with (0 when it dropped the connection)
    bool dropped = false;      // the connection was closed without an answer
    std::wstring storedFile;   // for uploads: where the body was written

    // The first header of that name (case-insensitive), or "" when there is none.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
    // The query's name=value pairs in the order sent, percent-decoded ("+" stays "+"); a pair without "="
    // has an empty value.
    CQueryPairs QueryPairs() const;
};

struct CScriptedReply
{
    int status = 200;
    CHttpHeaders headers;                    // sent as given, after the fixture's own
    std::string body;
    std::string contentType = "application/json";
    std::chrono::milliseconds delay{0};      // wait before answering (time-out tests)
    bool dropConnection = false;             // after the delay, close the connection without answering
};

// Random faults for robustness tests, on top of the scripted replies. Every request that the fixture
// answers itself (not forwarded proxy requests) draws once from a generator seeded with `seed`, under the
// fixture's lock: one seed always gives the same sequence of decisions, whichever thread draws them.
struct CFaultPlan
{
    unsigned seed = 1;
    double dropShare = 0;         // the connection is closed without an answer
    double serverErrorShare = 0;  // answered with one of serverErrors and an empty body instead
    double delayShare = 0;        // the answer (or the drop) waits a time drawn from [0, maxDelay] first
    std::chrono::milliseconds maxDelay{0};
    std::vector<int> serverErrors{500, 502, 503};
};

// How often each fault of a plan struck.
struct CFaultCounts
{
    std::size_t dropped = 0;
    std::size_t serverErrors = 0;
    std::size_t delayed = 0;
};

enum class EPathMatch
{
    Exact,  // the whole path, without the query
    Prefix, // paths that start with it (repository-style paths)
};

class CServerFixture
{
public:
    // Starts listening before it returns. The server stops itself after idleTimeout without a request, so
    // that a test that forgets it (or hangs) does not keep it running.
    explicit CServerFixture(std::chrono::seconds idleTimeout = std::chrono::seconds(120));
    ~CServerFixture(); // stops and joins the server threads
    CServerFixture(const CServerFixture&) = delete;
    CServerFixture& operator=(const CServerFixture&) = delete;

    bool IsRunning() const;
    void Stop();

    unsigned short Port() const;
    std::string Host() const;        // "127.0.0.1"
    std::string BaseUrl() const;     // "http://127.0.0.1:port", no trailing slash
    std::wstring BaseUrlW() const;
    std::string HostAndPort() const; // "127.0.0.1:port", the form a proxy setting takes

    // Scripted replies. Method "" matches any method. A reply scripted later is tried first; one with a
    // count is used that many times and then skipped, so "200 always, then 500 once" scripts a failure
    // followed by success.
    void Reply(const std::string& method, const std::string& path, const CScriptedReply& reply,
               EPathMatch match = EPathMatch::Exact, std::size_t times = 0 /* unlimited */);
    void ReplyJson(const std::string& method, const std::string& path, int status, const std::string& json,
                   std::size_t times = 0);
    // A reply computed from the request (its recorded form, without status or storedFile).
    void ReplyWith(const std::string& method, const std::string& path, EPathMatch match,
                   std::function<CScriptedReply(const CRecordedRequest&)> handler);

    // GET and HEAD below pathPrefix serve the file folder + rest of the path (percent-decoded, '/' as '\'),
    // with Last-Modified from the file's time; If-Modified-Since at or after it gives 304 without body.
    // A file that is not there gives 404.
    void ServeFiles(const std::string& pathPrefix, const std::wstring& folder);

    // Requests with a body below pathPrefix (any method) have the body written into folder, named by the
    // last path segment (".1", ".2", ... appended when that name exists already); then reply is sent.
    void StoreUploads(const std::string& pathPrefix, const std::wstring& folder,
                      const CScriptedReply& reply = CScriptedReply{200, {}, {}, "text/plain", {}});

    // Instead of forwarding absolute-form requests, answer them with this (407 for proxy credentials).
    void ReplyToProxyRequests(const CScriptedReply& reply);

    // Forgets all scripts (recorded requests stay). A fault plan stays until ClearFaults.
    void ClearReplies();

    // Replaces any earlier plan; counting starts again.
    void InjectFaults(const CFaultPlan& plan);
    void ClearFaults();
    CFaultCounts FaultCounts() const;

    // Recorded requests, oldest first.
    std::vector<CRecordedRequest> Requests() const;
    std::vector<CRecordedRequest> RequestsTo(const std::string& path) const; // exact path match
    std::size_t RequestCount() const;
    // True once at least count requests were recorded; false after timeout.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    void ClearRequests();

    // HTTP dates (RFC 7231 IMF-fixdate, "Sun, 06 Nov 1994 08:49:37 GMT"), for building and checking
    // Last-Modified and If-Modified-Since.
    static std::string HttpDate(std::time_t utc);
    static bool ParseHttpDate(const std::string& text, std::time_t& utc);

private:
    class CImpl;
    std::unique_ptr<CImpl> m_impl;
};
