#pragma once
// One request as the fixture received it, and how it is read from the bytes of its head.

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
    bool dropped = false;      // the connection was closed without an answer, or in the middle of its body
    std::wstring storedFile;   // for uploads: where the body was written

    // The first header of that name (case-insensitive), or "" when there is none.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
    // The query's name=value pairs in the order sent, percent-decoded ("+" stays "+"); a pair without "="
    // has an empty value.
    CQueryPairs QueryPairs() const;
};

// Fills target, headers (folded lines joined), path and query from the request head as it came, without the
// blank line. A target in absolute form ("http://host:port/x") sets viaProxy and proxyTarget. When the
// request line cannot be read, target is fallbackTarget.
void ReadRequestHead(const std::string& head, const std::string& fallbackTarget, CRecordedRequest& rec);
