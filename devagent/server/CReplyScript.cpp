#include "CReplyScript.h"

#include "FileRoutes.h"

#include <algorithm>

CScriptedReply TextReply(int status, const std::string& text)
{
    CScriptedReply reply;
    reply.status = status;
    reply.body = text;
    reply.contentType = "text/plain";
    return reply;
}

void CReplyScript::Add(const std::string& method, const std::string& path, EPathMatch match,
                       const CScriptedReply& reply, std::size_t times)
{
    CRoute route;
    route.method = method;
    route.path = path;
    route.match = match;
    route.reply = reply;
    route.limited = times > 0;
    route.timesLeft = times;
    Push(std::move(route));
}

void CReplyScript::AddHandler(const std::string& method, const std::string& path, EPathMatch match,
                              CReplyHandler handler)
{
    CRoute route;
    route.kind = EKind::Computed;
    route.method = method;
    route.path = path;
    route.match = match;
    route.handler = std::move(handler);
    Push(std::move(route));
}

void CReplyScript::AddFiles(const std::string& prefix, const std::wstring& folder)
{
    CRoute route;
    route.kind = EKind::Files;
    route.path = prefix;
    route.match = EPathMatch::Prefix;
    route.folder = folder;
    Push(std::move(route));
}

void CReplyScript::AddUploads(const std::string& prefix, const std::wstring& folder, const CScriptedReply& reply)
{
    CRoute route;
    route.kind = EKind::Uploads;
    route.path = prefix;
    route.match = EPathMatch::Prefix;
    route.folder = folder;
    route.reply = reply;
    Push(std::move(route));
}

void CReplyScript::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes.clear();
}

void CReplyScript::Push(CRoute route)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes.push_back(std::move(route));
}

bool CReplyScript::Matches(const CRoute& route, const CRecordedRequest& rec)
{
    if ((!route.method.empty() && route.method != rec.method) || (route.limited && route.timesLeft == 0))
        return false;
    const bool pathMatches = route.match == EPathMatch::Exact
                                 ? rec.path == route.path
                                 : rec.path.compare(0, route.path.size(), route.path) == 0;
    const bool download = rec.method == "GET" || rec.method == "HEAD";
    switch (route.kind)
    {
    case EKind::Files:
        return pathMatches && download;
    case EKind::Uploads:
        return pathMatches && !download;
    default:
        return pathMatches;
    }
}

CScriptedReply CReplyScript::Answer(CRecordedRequest& rec)
{
    CRoute route;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it =
            std::find_if(m_routes.rbegin(), m_routes.rend(), [&](const CRoute& r) { return Matches(r, rec); });
        if (it == m_routes.rend())
            return TextReply(404, "Not scripted");
        if (it->limited)
            --it->timesLeft;
        route = *it;
    }

    switch (route.kind)
    {
    case EKind::Scripted:
        return route.reply;
    case EKind::Computed:
        return route.handler(rec);
    case EKind::Files:
        return ServeFile(route.path, route.folder, rec);
    case EKind::Uploads:
        return StoreUpload(route.folder, route.reply, rec);
    }
    return TextReply(500, "Unknown route");
}
