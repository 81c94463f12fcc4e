#include "CRecordedRequest.h"

#include "HttpText.h"

#include <algorithm>

std::string CRecordedRequest::Header(const std::string& name) const
{
    const auto it =
        std::find_if(headers.begin(), headers.end(), [&](const auto& h) { return EqualsNoCase(h.first, name); });
    return it == headers.end() ? std::string() : it->second;
}

bool CRecordedRequest::HasHeader(const std::string& name) const
{
    return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return EqualsNoCase(h.first, name); });
}

CQueryPairs CRecordedRequest::QueryPairs() const
{
    CQueryPairs pairs;
    for (std::size_t start = 0; start < query.size();)
    {
        const std::size_t end = std::min(query.find('&', start), query.size());
        const std::string pair = query.substr(start, end - start);
        const std::size_t equals = pair.find('=');
        pairs.emplace_back(PercentDecode(pair.substr(0, equals)),
                           equals == std::string::npos ? std::string() : PercentDecode(pair.substr(equals + 1)));
        start = end + 1;
    }
    return pairs;
}

void ReadRequestHead(const std::string& head, const std::string& fallbackTarget, CRecordedRequest& rec)
{
    rec.target = fallbackTarget;
    bool first = true;
    for (std::size_t lineStart = 0; lineStart <= head.size();)
    {
        const std::size_t lineEnd = std::min(head.find("\r\n", lineStart), head.size());
        const std::string line = head.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        if (first)
        {
            first = false;
            const auto a = line.find(' ');
            const auto b = line.rfind(' ');
            if (a != std::string::npos && b > a)
                rec.target = line.substr(a + 1, b - a - 1);
        }
        else if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !rec.headers.empty())
        {
            rec.headers.back().second += " " + Trim(line); // folded continuation
        }
        else if (const auto colon = line.find(':'); colon != std::string::npos)
        {
            rec.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
        }
    }

    std::string rest = rec.target;
    if (StartsWithNoCase(rest, "http://"))
    {
        rec.viaProxy = true;
        rest = rest.substr(7);
        const auto slash = rest.find_first_of("/?");
        rec.proxyTarget = rest.substr(0, slash);
        rest = slash == std::string::npos ? "/" : rest.substr(slash);
        if (rest[0] == '?')
            rest = "/" + rest;
    }
    const auto q = rest.find('?');
    rec.path = rest.substr(0, q);
    if (q != std::string::npos)
        rec.query = rest.substr(q + 1);
}
