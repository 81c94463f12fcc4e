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

#include "CFaultInjector.h"
#include "CRecordedRequest.h"
#include "CReplyScript.h"

#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CServerFixture
{
public:
    // Starts listening before it returns. The server stops itself after idleTimeout without a request, so
    // that a test that forgets it (or hangs) does not keep it running.
    explicit CServerFixture(std::chrono::seconds idleTimeout = std::chrono::seconds(120));
    // On the given port; Port() is 0 when it cannot be had.
    CServerFixture(std::chrono::seconds idleTimeout, unsigned short port);
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

    // Faults on every request the fixture answers itself (forwarded ones draw none). Replaces any earlier
    // plan; counting starts again.
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
