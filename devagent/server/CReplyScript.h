#pragma once
// The replies a test scripts, and which one answers a request: method ("" = any) and path (exact or by
// prefix) must match; the latest script is tried first; a counted one is used that many times and then
// skipped. Thread-safe: scripts may change while server threads answer.

#include "CRecordedRequest.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct CScriptedReply
{
    int status = 200;
    CHttpHeaders headers;                    // sent as given, after the fixture's own
    std::string body;
    std::string contentType = "application/json";
    std::chrono::milliseconds delay{0};      // wait before answering (time-out tests)
    bool dropConnection = false;             // after the delay, close the connection without answering
    bool cutBody = false;                    // announce the whole body, send its first half, then close
};

enum class EPathMatch
{
    Exact,  // the whole path, without the query
    Prefix, // paths that start with it (repository-style paths)
};

using CReplyHandler = std::function<CScriptedReply(const CRecordedRequest&)>;

// A plain-text answer of the fixture's own (404 unscripted, 502 for a failed forward, ...).
CScriptedReply TextReply(int status, const std::string& text);

class CReplyScript
{
public:
    void Add(const std::string& method, const std::string& path, EPathMatch match, const CScriptedReply& reply,
             std::size_t times /* 0: unlimited */);
    void AddHandler(const std::string& method, const std::string& path, EPathMatch match, CReplyHandler handler);
    // GET and HEAD below prefix are served from folder.
    void AddFiles(const std::string& prefix, const std::wstring& folder);
    // Requests below prefix with other methods have their body stored in folder, then get reply.
    void AddUploads(const std::string& prefix, const std::wstring& folder, const CScriptedReply& reply);
    void Clear();

    // The answer of the first script that matches, 404 when none does. Handlers, file reads and upload
    // writes run outside the lock; an upload sets rec.storedFile.
    CScriptedReply Answer(CRecordedRequest& rec);

private:
    enum class EKind
    {
        Scripted,
        Computed,
        Files,
        Uploads,
    };
    struct CRoute
    {
        EKind kind = EKind::Scripted;
        std::string method;
        std::string path;
        EPathMatch match = EPathMatch::Exact;
        CScriptedReply reply;
        bool limited = false;
        std::size_t timesLeft = 0;
        CReplyHandler handler;
        std::wstring folder;
    };

    void Push(CRoute route);
    static bool Matches(const CRoute& route, const CRecordedRequest& rec);

    std::mutex m_mutex;
    std::vector<CRoute> m_routes;
};
