#include "CProxyForwarder.h"

#include "HttpText.h"

#include <httplib.h>

#include <algorithm>
#include <cstdlib>

namespace
{

bool IsLoopbackHost(const std::string& host)
{
    return host == "localhost" || host == "[::1]" || host.compare(0, 4, "127.") == 0;
}

bool SplitHostPort(const std::string& hostPort, std::string& host, int& port)
{
    host = hostPort;
    port = 80;
    const auto colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos)
    {
        port = std::atoi(host.c_str() + colon + 1);
        host.erase(colon);
    }
    return !host.empty() && port > 0 && port <= 65535;
}

// Hop-by-hop headers belong to one connection and are not passed on.
bool IsHopByHop(const std::string& name)
{
    static const char* const names[] = {"Connection", "Proxy-Connection", "Keep-Alive", "Proxy-Authorization",
                                        "Proxy-Authenticate", "TE", "Trailer", "Transfer-Encoding", "Upgrade",
                                        "Content-Length"};
    return std::any_of(std::begin(names), std::end(names), [&](const char* n) { return EqualsNoCase(name, n); });
}

// Puts the head given in place of the one the library writes: the library keeps headers in a map sorted
// by name and adds its own, but the server behind must see them as the client sent them.
class CHeadReplacingStream : public httplib::Stream
{
public:
    CHeadReplacingStream(httplib::Stream& inner, const std::string& head) : m_inner(inner), m_head(head) {}

    bool is_readable() const override { return m_inner.is_readable(); }
    bool is_writable() const override { return m_inner.is_writable(); }
    ssize_t read(char* ptr, size_t size) override { return m_inner.read(ptr, size); }
    ssize_t write(const char* ptr, size_t size) override
    {
        if (m_headSent)
            return m_inner.write(ptr, size);
        m_libraryHead.append(ptr, size);
        const auto end = m_libraryHead.find("\r\n\r\n");
        if (end == std::string::npos)
            return static_cast<ssize_t>(size);
        m_headSent = true;
        if (!httplib::detail::write_data(m_inner, m_head.data(), m_head.size()) ||
            !httplib::detail::write_data(m_inner, m_libraryHead.data() + end + 4, m_libraryHead.size() - end - 4))
            return -1;
        return static_cast<ssize_t>(size);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override { m_inner.get_remote_ip_and_port(ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { m_inner.get_local_ip_and_port(ip, port); }
    socket_t socket() const override { return m_inner.socket(); }

private:
    httplib::Stream& m_inner;
    const std::string& m_head;
    std::string m_libraryHead;
    bool m_headSent = false;
};

class CForwardingClient : public httplib::ClientImpl
{
public:
    CForwardingClient(const std::string& host, int port, std::string head)
        : ClientImpl(host, port), m_head(std::move(head))
    {
    }

private:
    bool process_socket(const Socket& socket, std::function<bool(httplib::Stream&)> callback) override
    {
        return httplib::detail::process_client_socket(socket.sock, read_timeout_sec_, read_timeout_usec_,
                                                      write_timeout_sec_, write_timeout_usec_,
                                                      [&](httplib::Stream& strm) {
                                                          CHeadReplacingStream replacing(strm, m_head);
                                                          return callback(replacing);
                                                      });
    }

    std::string m_head;
};

} // namespace

void CProxyForwarder::NoticeOtherPort(CRecordedRequest& rec, unsigned short ownPort)
{
    std::string host;
    int port = 0;
    if (!rec.viaProxy && SplitHostPort(rec.Header("Host"), host, port) && IsLoopbackHost(host) && port != ownPort)
    {
        rec.viaProxy = true;
        rec.proxyTarget = rec.Header("Host");
    }
}

void CProxyForwarder::SetReply(const CScriptedReply& reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hasReply = true;
    m_reply = reply;
}

void CProxyForwarder::ClearReply()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hasReply = false;
}

CScriptedReply CProxyForwarder::Answer(const CRecordedRequest& rec)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_hasReply)
            return m_reply;
    }
    return Forward(rec);
}

CScriptedReply CProxyForwarder::Forward(const CRecordedRequest& rec)
{
    std::string host;
    int port = 0;
    if (!SplitHostPort(rec.proxyTarget, host, port) || !IsLoopbackHost(host))
        return TextReply(502, "Only loopback targets are forwarded");
    if (host == "localhost")
        host = "127.0.0.1";
    else if (host == "[::1]")
        host = "::1";

    const std::string target = rec.path + (rec.query.empty() ? "" : "?" + rec.query);
    std::string head = rec.method + " " + target + " HTTP/1.1\r\n";
    for (const auto& h : rec.headers)
    {
        if (!IsHopByHop(h.first))
            head += h.first + ": " + h.second + "\r\n";
    }
    if (!rec.body.empty() || rec.HasHeader("Content-Length") || rec.HasHeader("Transfer-Encoding"))
        head += "Content-Length: " + std::to_string(rec.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";

    CForwardingClient client(host, port, std::move(head));
    client.set_connection_timeout(10);
    client.set_read_timeout(30);
    client.set_write_timeout(30);
    httplib::Request request;
    request.method = rec.method;
    request.path = target;
    request.body = rec.body;
    const httplib::Result result = client.send(request);
    if (!result)
        return TextReply(502, "Forwarding failed");

    CScriptedReply reply;
    reply.status = result->status;
    reply.contentType.clear(); // the target's own Content-Type, if any, is among its headers
    for (const auto& h : result->headers)
    {
        if (!IsHopByHop(h.first))
            reply.headers.emplace_back(h.first, h.second);
    }
    reply.body = result->body;
    return reply;
}
