#include "CServerFixture.h"

#include "platform/Win.h"

// Uploads may be form-encoded and larger than the library's 8 KiB default for such bodies.
#define CPPHTTPLIB_FORM_URL_ENCODED_PAYLOAD_MAX_LENGTH (64u * 1024u * 1024u)
// Answers leave in more than one write: without this, delayed acknowledgements hold each one up ~40 ms.
#define CPPHTTPLIB_TCP_NODELAY true
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <thread>

namespace
{

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string Trim(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
    {
        return {};
    }
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty())
    {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

std::wstring WithBackslash(std::wstring folder)
{
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/')
    {
        folder += L'\\';
    }
    return folder;
}

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
}

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kWeekdays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"}; // 1970-01-01 was a Thursday

bool FileTimeAndSize(const std::wstring& path, std::time_t& modified, unsigned long long& size)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    {
        return false;
    }
    const unsigned long long ticks =
        (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    modified = static_cast<std::time_t>((ticks - 116444736000000000ULL) / 10000000ULL);
    size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool ReadWholeFile(const std::wstring& path, std::string& content)
{
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
    {
        return false;
    }
    content.clear();
    char buffer[64 * 1024];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0)
    {
        content.append(buffer, n);
    }
    const bool ok = !ferror(f);
    fclose(f);
    return ok;
}

bool WriteWholeFile(const std::wstring& path, const std::string& content)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f)
    {
        return false;
    }
    const bool ok = fwrite(content.data(), 1, content.size(), f) == content.size();
    return fclose(f) == 0 && ok;
}

bool IsLoopbackHost(const std::string& host)
{
    return host == "localhost" || host == "[::1]" || host.compare(0, 4, "127.") == 0;
}

// Hop-by-hop headers belong to one connection and are not passed on by the proxy.
bool IsHopByHop(const std::string& name)
{
    static const char* const names[] = {"Connection", "Proxy-Connection", "Keep-Alive", "Proxy-Authorization",
                                        "Proxy-Authenticate", "TE", "Trailer", "Transfer-Encoding", "Upgrade",
                                        "Content-Length"};
    return std::any_of(std::begin(names), std::end(names), [&](const char* n) { return EqualsNoCase(name, n); });
}

// Keeps a copy of every byte that the server's parser reads, so that the request head can be recorded as it
// came: the parser's own header map is sorted by name and mixes in headers of its own.
class CTeeStream : public httplib::Stream
{
public:
    explicit CTeeStream(httplib::Stream& inner) : m_inner(inner) {}

    bool is_readable() const override { return m_inner.is_readable(); }
    bool is_writable() const override { return m_inner.is_writable(); }
    ssize_t read(char* ptr, size_t size) override
    {
        const auto n = m_inner.read(ptr, size);
        if (n > 0)
        {
            m_seen.append(ptr, static_cast<size_t>(n));
        }
        return n;
    }
    ssize_t write(const char* ptr, size_t size) override { return m_inner.write(ptr, size); }
    void get_remote_ip_and_port(std::string& ip, int& port) const override { m_inner.get_remote_ip_and_port(ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { m_inner.get_local_ip_and_port(ip, port); }
    socket_t socket() const override { return m_inner.socket(); }

    const std::string& Seen() const { return m_seen; }

private:
    httplib::Stream& m_inner;
    std::string m_seen;
};

// The stream of the request being handled on this thread (connections are served one per thread).
thread_local const CTeeStream* t_currentStream = nullptr;

class CRecordingServer : public httplib::Server
{
public:
    std::function<void(socket_t)> onOpen;
    std::function<void(socket_t)> onClose;

private:
    bool process_and_close_socket(socket_t sock) override
    {
        onOpen(sock);
        bool ret = false;
        for (auto count = keep_alive_max_count_; count > 0 && NextRequestComes(sock); --count)
        {
            httplib::detail::SocketStream socketStream(sock, read_timeout_sec_, read_timeout_usec_,
                                                       write_timeout_sec_, write_timeout_usec_);
            CTeeStream tee(socketStream);
            bool connectionClosed = false;
            t_currentStream = &tee;
            ret = process_request(tee, count == 1, connectionClosed, nullptr);
            t_currentStream = nullptr;
            if (!ret || connectionClosed)
            {
                break;
            }
        }
        onClose(sock);
        httplib::detail::shutdown_socket(sock);
        httplib::detail::close_socket(sock);
        return ret;
    }

    // Waits for the client's next request on a kept-alive connection, but gives up as soon as the server
    // stops, rather than after the keep-alive time-out.
    bool NextRequestComes(socket_t sock) const
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
        while (svr_sock_ != INVALID_SOCKET)
        {
            const auto ready = httplib::detail::select_read(sock, 0, 10000);
            if (ready != 0)
            {
                return ready > 0;
            }
            if (std::chrono::steady_clock::now() > until)
            {
                return false;
            }
        }
        return false;
    }
};

// Calls back whenever the accept loop has been idle for a moment.
class CWatchedPool : public httplib::ThreadPool
{
public:
    CWatchedPool(size_t threads, std::function<void()> onIdle) : ThreadPool(threads), m_onIdle(std::move(onIdle)) {}
    void on_idle() override { m_onIdle(); }

private:
    std::function<void()> m_onIdle;
};

struct CRoute
{
    enum class EKind
    {
        Scripted,
        Computed,
        Files,
        Uploads,
    };
    EKind kind = EKind::Scripted;
    std::string method;
    std::string path;
    EPathMatch match = EPathMatch::Exact;
    CScriptedReply reply;
    std::size_t timesLeft = 0; // 0: unlimited
    bool limited = false;
    std::function<CScriptedReply(const CRecordedRequest&)> handler;
    std::wstring folder;
};

CScriptedReply Status(int status, const std::string& text)
{
    CScriptedReply r;
    r.status = status;
    r.body = text;
    r.contentType = "text/plain";
    return r;
}

} // namespace

std::string CRecordedRequest::Header(const std::string& name) const
{
    for (const auto& h : headers)
    {
        if (EqualsNoCase(h.first, name))
        {
            return h.second;
        }
    }
    return {};
}

CQueryPairs CRecordedRequest::QueryPairs() const
{
    const auto hex = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    CQueryPairs pairs;
    for (std::size_t start = 0; start < query.size();)
    {
        const std::size_t end = std::min(query.find('&', start), query.size());
        std::string name, value, *out = &name;
        for (std::size_t i = start; i < end; ++i)
        {
            if (query[i] == '=' && out == &name)
                out = &value;
            else if (query[i] == '%' && i + 2 < end && hex(query[i + 1]) >= 0 && hex(query[i + 2]) >= 0)
            {
                out->push_back(static_cast<char>(hex(query[i + 1]) * 16 + hex(query[i + 2])));
                i += 2;
            }
            else
                out->push_back(query[i]);
        }
        pairs.emplace_back(std::move(name), std::move(value));
        start = end + 1;
    }
    return pairs;
}

bool CRecordedRequest::HasHeader(const std::string& name) const
{
    return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return EqualsNoCase(h.first, name); });
}

class CServerFixture::CImpl
{
public:
    explicit CImpl(std::chrono::seconds idleTimeout) : m_idleTimeout(idleTimeout)
    {
        m_lastActivity = std::chrono::steady_clock::now();
        // No SO_REUSEADDR: the system picks a free port, and nobody else may share it.
        m_server.set_socket_options([](socket_t) {});
        m_server.set_idle_interval(0, 200 * 1000);
        m_server.set_keep_alive_timeout(2);
        m_server.set_read_timeout(10);
        m_server.set_write_timeout(10);
        m_server.onOpen = [this](socket_t s) {
            std::lock_guard<std::mutex> lock(m_socketsMutex);
            m_sockets.insert(s);
        };
        m_server.onClose = [this](socket_t s) {
            std::lock_guard<std::mutex> lock(m_socketsMutex);
            m_sockets.erase(s);
        };
        m_server.new_task_queue = [this] { return new CWatchedPool(8, [this] { CheckIdle(); }); };

        const httplib::Server::Handler handler = [this](const httplib::Request& req, httplib::Response& res) {
            Handle(req, res);
        };
        m_server.Get(".*", handler);
        m_server.Post(".*", handler);
        m_server.Put(".*", handler);
        m_server.Delete(".*", handler);
        m_server.Patch(".*", handler);
        m_server.Options(".*", handler);

        const int port = m_server.bind_to_any_port("127.0.0.1");
        if (port <= 0)
        {
            return;
        }
        m_port = static_cast<unsigned short>(port);
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // Stop() is only heard once the accept loop runs.
        for (int i = 0; i < 5000 && !m_server.is_running(); ++i)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    ~CImpl() { Stop(); }

    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_server.stop();
        {
            // Connections kept alive by clients would otherwise hold the workers until their time-out.
            std::lock_guard<std::mutex> lock(m_socketsMutex);
            for (const auto s : m_sockets)
            {
                shutdown(s, SD_BOTH);
            }
        }
        if (m_thread.joinable())
        {
            m_thread.join();
        }
    }

    void CheckIdle()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_inFlight == 0 && std::chrono::steady_clock::now() - m_lastActivity > m_idleTimeout)
        {
            m_server.stop();
        }
    }

    void Handle(const httplib::Request& req, httplib::Response& res)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_inFlight;
            m_lastActivity = std::chrono::steady_clock::now();
        }
        CRecordedRequest rec = Record(req);
        CScriptedReply reply = Answer(rec);
        if (!rec.viaProxy)
        {
            ApplyFaults(reply);
        }
        rec.dropped = reply.dropConnection;
        rec.status = reply.dropConnection ? 0 : reply.status;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(rec);
        }
        m_changed.notify_all();

        if (reply.delay.count() > 0)
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait_for(lock, reply.delay, [this] { return m_stopping; });
        }
        if (reply.dropConnection)
        {
            // The answer that the library then tries to write goes nowhere, and it closes the connection.
            if (t_currentStream)
            {
                shutdown(t_currentStream->socket(), SD_BOTH);
            }
            res.status = 500;
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_inFlight;
            m_lastActivity = std::chrono::steady_clock::now();
            return;
        }
        res.status = reply.status;
        bool hasContentType = false;
        for (const auto& h : reply.headers)
        {
            hasContentType = hasContentType || EqualsNoCase(h.first, "Content-Type");
            res.headers.emplace(h.first, h.second);
        }
        if (!reply.body.empty() && !hasContentType)
        {
            res.set_header("Content-Type", reply.contentType);
        }
        res.body = std::move(reply.body);

        std::lock_guard<std::mutex> lock(m_mutex);
        --m_inFlight;
        m_lastActivity = std::chrono::steady_clock::now();
    }

    void ApplyFaults(CScriptedReply& reply)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_hasFaults)
        {
            return;
        }
        std::uniform_real_distribution<double> share(0.0, 1.0);
        const double kind = share(m_random);
        if (kind < m_faultPlan.dropShare)
        {
            reply.dropConnection = true;
            ++m_faultCounts.dropped;
        }
        else if (kind < m_faultPlan.dropShare + m_faultPlan.serverErrorShare && !m_faultPlan.serverErrors.empty())
        {
            std::uniform_int_distribution<std::size_t> pick(0, m_faultPlan.serverErrors.size() - 1);
            reply = Status(m_faultPlan.serverErrors[pick(m_random)], "");
            ++m_faultCounts.serverErrors;
        }
        if (share(m_random) < m_faultPlan.delayShare && m_faultPlan.maxDelay.count() > 0)
        {
            std::uniform_int_distribution<long long> wait(0, static_cast<long long>(m_faultPlan.maxDelay.count()));
            reply.delay += std::chrono::milliseconds(wait(m_random));
            ++m_faultCounts.delayed;
        }
    }

    CRecordedRequest Record(const httplib::Request& req) const
    {
        CRecordedRequest rec;
        rec.method = req.method;
        rec.remoteAddress = req.remote_addr;
        rec.body = req.body;

        const std::string seen = t_currentStream ? t_currentStream->Seen() : std::string();
        const auto headEnd = seen.find("\r\n\r\n");
        const std::string head = seen.substr(0, headEnd);
        size_t lineStart = 0;
        bool first = true;
        while (lineStart <= head.size())
        {
            auto lineEnd = head.find("\r\n", lineStart);
            if (lineEnd == std::string::npos)
            {
                lineEnd = head.size();
            }
            const std::string line = head.substr(lineStart, lineEnd - lineStart);
            lineStart = lineEnd + 2;
            if (first)
            {
                first = false;
                const auto a = line.find(' ');
                const auto b = line.rfind(' ');
                rec.target = a != std::string::npos && b > a ? line.substr(a + 1, b - a - 1) : req.target;
                continue;
            }
            if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !rec.headers.empty())
            {
                rec.headers.back().second += " " + Trim(line); // folded continuation
                continue;
            }
            const auto colon = line.find(':');
            if (colon != std::string::npos)
            {
                rec.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
            }
        }
        // Multipart bodies are taken apart by the parser; keep them as they came.
        if (!req.files.empty() && headEnd != std::string::npos && !EqualsNoCase(rec.Header("Transfer-Encoding"), "chunked"))
        {
            rec.body = seen.substr(headEnd + 4);
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
            {
                rest = "/" + rest;
            }
        }
        const auto q = rest.find('?');
        rec.path = rest.substr(0, q);
        if (q != std::string::npos)
        {
            rec.query = rest.substr(q + 1);
        }

        // Wine's WinHTTP keeps the origin form when proxy and server share a host name and differ only by
        // port; the Host header still names the server that was meant.
        std::string host;
        int port = 0;
        if (!rec.viaProxy && SplitHostPort(rec.Header("Host"), host, port) && IsLoopbackHost(host) && port != m_port)
        {
            rec.viaProxy = true;
            rec.proxyTarget = rec.Header("Host");
        }
        return rec;
    }

    static bool Matches(const CRoute& route, const CRecordedRequest& rec)
    {
        if (!route.method.empty() && route.method != rec.method)
        {
            return false;
        }
        return route.match == EPathMatch::Exact ? rec.path == route.path : rec.path.compare(0, route.path.size(), route.path) == 0;
    }

    CScriptedReply Answer(CRecordedRequest& rec)
    {
        if (rec.viaProxy)
        {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_hasProxyReply)
                {
                    return m_proxyReply;
                }
            }
            return Forward(rec);
        }

        CRoute route;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto it = std::find_if(m_routes.rbegin(), m_routes.rend(), [&](const CRoute& r) {
                if (!Matches(r, rec) || (r.limited && r.timesLeft == 0))
                {
                    return false;
                }
                if (r.kind == CRoute::EKind::Files)
                {
                    return rec.method == "GET" || rec.method == "HEAD";
                }
                if (r.kind == CRoute::EKind::Uploads)
                {
                    return rec.method != "GET" && rec.method != "HEAD";
                }
                return true;
            });
            if (it == m_routes.rend())
            {
                return Status(404, "Not scripted");
            }
            if (it->limited)
            {
                --it->timesLeft;
            }
            route = *it;
        }

        switch (route.kind)
        {
        case CRoute::EKind::Scripted:
            return route.reply;
        case CRoute::EKind::Computed:
            return route.handler(rec);
        case CRoute::EKind::Files:
            return ServeFile(route, rec);
        case CRoute::EKind::Uploads:
            return StoreUpload(route, rec);
        }
        return Status(500, "Unknown route");
    }

    static CScriptedReply ServeFile(const CRoute& route, const CRecordedRequest& rec)
    {
        const std::string rest = httplib::detail::decode_url(rec.path.substr(route.path.size()), false);
        std::wstring relative;
        size_t start = 0;
        while (start <= rest.size())
        {
            auto end = rest.find('/', start);
            if (end == std::string::npos)
            {
                end = rest.size();
            }
            const std::string segment = rest.substr(start, end - start);
            start = end + 1;
            if (segment.empty() || segment == ".")
            {
                continue;
            }
            if (segment == ".." || segment.find('\\') != std::string::npos || segment.find(':') != std::string::npos)
            {
                return Status(403, "Outside the served folder");
            }
            relative += (relative.empty() ? L"" : L"\\") + Widen(segment);
        }
        const std::wstring file = WithBackslash(route.folder) + relative;

        std::time_t modified = 0;
        unsigned long long size = 0;
        if (relative.empty() || !FileTimeAndSize(file, modified, size))
        {
            return Status(404, "No such file");
        }
        CScriptedReply reply;
        reply.headers.emplace_back("Last-Modified", CServerFixture::HttpDate(modified));
        std::time_t since = 0;
        if (CServerFixture::ParseHttpDate(rec.Header("If-Modified-Since"), since) && modified <= since)
        {
            reply.status = 304;
            return reply;
        }
        if (!ReadWholeFile(file, reply.body))
        {
            return Status(500, "Cannot read the file");
        }
        reply.contentType = "application/octet-stream";
        return reply;
    }

    static CScriptedReply StoreUpload(const CRoute& route, CRecordedRequest& rec)
    {
        std::string name = httplib::detail::decode_url(rec.path.substr(rec.path.rfind('/') + 1), false);
        for (auto& c : name)
        {
            if (std::strchr("\\/:*?\"<>|", c) || static_cast<unsigned char>(c) < 0x20)
            {
                c = '_';
            }
        }
        if (name.empty() || name == "." || name == "..")
        {
            name = "upload";
        }
        const std::wstring folder = WithBackslash(route.folder);
        CreateDirectoryW(folder.c_str(), nullptr);
        std::wstring file = folder + Widen(name);
        for (int i = 1; GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
        {
            file = folder + Widen(name) + L"." + std::to_wstring(i);
        }
        if (!WriteWholeFile(file, rec.body))
        {
            return Status(500, "Cannot store the upload");
        }
        rec.storedFile = file;
        return route.reply;
    }

    static bool SplitHostPort(const std::string& hostPort, std::string& host, int& port)
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

    // Passed on over a socket of its own, not through a client library, so that the server behind sees the
    // headers in the order and spelling that the client sent.
    static CScriptedReply Forward(const CRecordedRequest& rec)
    {
        std::string host;
        int port = 0;
        if (!SplitHostPort(rec.proxyTarget, host, port) || !IsLoopbackHost(host))
        {
            return Status(502, "Only loopback targets are forwarded");
        }
        if (host == "localhost")
        {
            host = "127.0.0.1";
        }
        else if (host == "[::1]")
        {
            host = "::1";
        }

        std::string out = rec.method + " " + rec.path + (rec.query.empty() ? "" : "?" + rec.query) + " HTTP/1.1\r\n";
        for (const auto& h : rec.headers)
        {
            if (!IsHopByHop(h.first))
            {
                out += h.first + ": " + h.second + "\r\n";
            }
        }
        if (!rec.body.empty() || rec.HasHeader("Content-Length") || rec.HasHeader("Transfer-Encoding"))
        {
            out += "Content-Length: " + std::to_string(rec.body.size()) + "\r\n";
        }
        out += "Connection: close\r\n\r\n" + rec.body;

        std::string in;
        if (!Exchange(host, port, out, in))
        {
            return Status(502, "Forwarding failed");
        }
        CScriptedReply reply;
        if (!ParseResponse(in, rec.method == "HEAD", reply))
        {
            return Status(502, "Unreadable answer from the server behind");
        }
        return reply;
    }

    static bool Exchange(const std::string& host, int port, const std::string& request, std::string& response)
    {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        {
            return false;
        }
        SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
        bool ok = s != INVALID_SOCKET && connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0;
        freeaddrinfo(found);
        if (ok)
        {
            const DWORD timeout = 30000;
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
            setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
            for (size_t sent = 0; ok && sent < request.size();)
            {
                const int n = send(s, request.data() + sent, static_cast<int>(std::min<size_t>(request.size() - sent, 1 << 20)), 0);
                ok = n > 0;
                sent += ok ? static_cast<size_t>(n) : 0;
            }
            char buffer[16 * 1024];
            int n = 0;
            while (ok && (n = recv(s, buffer, sizeof(buffer), 0)) > 0)
            {
                response.append(buffer, static_cast<size_t>(n));
            }
            ok = ok && n == 0;
        }
        if (s != INVALID_SOCKET)
        {
            closesocket(s);
        }
        return ok;
    }

    // The whole answer, read up to the close that "Connection: close" asked for.
    static bool ParseResponse(const std::string& in, bool headRequest, CScriptedReply& reply)
    {
        const auto headEnd = in.find("\r\n\r\n");
        const auto lineEnd = in.find("\r\n");
        if (headEnd == std::string::npos || in.compare(0, 5, "HTTP/") != 0)
        {
            return false;
        }
        const auto space = in.find(' ');
        if (space == std::string::npos || space > lineEnd)
        {
            return false;
        }
        reply.status = std::atoi(in.c_str() + space + 1);
        reply.contentType.clear();
        bool chunked = false;
        long long length = -1;
        for (size_t pos = lineEnd + 2; pos < headEnd;)
        {
            const auto end = in.find("\r\n", pos);
            const std::string line = in.substr(pos, end - pos);
            pos = end + 2;
            const auto colon = line.find(':');
            if (colon == std::string::npos)
            {
                continue;
            }
            const std::string name = line.substr(0, colon);
            const std::string value = Trim(line.substr(colon + 1));
            if (EqualsNoCase(name, "Transfer-Encoding"))
            {
                chunked = EqualsNoCase(value, "chunked");
            }
            else if (EqualsNoCase(name, "Content-Length"))
            {
                length = std::atoll(value.c_str());
            }
            if (!IsHopByHop(name))
            {
                reply.headers.emplace_back(name, value);
            }
        }
        const std::string raw = in.substr(headEnd + 4);
        if (headRequest || reply.status == 204 || reply.status == 304 || reply.status < 200)
        {
            return true;
        }
        if (!chunked)
        {
            reply.body = length >= 0 ? raw.substr(0, static_cast<size_t>(length)) : raw;
            return true;
        }
        for (size_t pos = 0;;)
        {
            const auto sizeEnd = raw.find("\r\n", pos);
            if (sizeEnd == std::string::npos)
            {
                return false;
            }
            const unsigned long size = std::strtoul(raw.c_str() + pos, nullptr, 16);
            if (size == 0)
            {
                return true;
            }
            if (sizeEnd + 2 + size > raw.size())
            {
                return false;
            }
            reply.body.append(raw, sizeEnd + 2, size);
            pos = sizeEnd + 2 + size + 2;
        }
    }

    CRecordingServer m_server;
    std::thread m_thread;
    unsigned short m_port = 0;
    const std::chrono::steady_clock::duration m_idleTimeout;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_stopping = false;
    std::chrono::steady_clock::time_point m_lastActivity;
    int m_inFlight = 0;
    std::vector<CRoute> m_routes;
    bool m_hasProxyReply = false;
    CScriptedReply m_proxyReply;
    std::vector<CRecordedRequest> m_requests;
    bool m_hasFaults = false;
    CFaultPlan m_faultPlan;
    std::mt19937 m_random;
    CFaultCounts m_faultCounts;

    std::mutex m_socketsMutex;
    std::set<socket_t> m_sockets;
};

CServerFixture::CServerFixture(std::chrono::seconds idleTimeout) : m_impl(new CImpl(idleTimeout)) {}

CServerFixture::~CServerFixture() = default;

bool CServerFixture::IsRunning() const
{
    return m_impl->m_server.is_running();
}

void CServerFixture::Stop()
{
    m_impl->Stop();
}

unsigned short CServerFixture::Port() const
{
    return m_impl->m_port;
}

std::string CServerFixture::Host() const
{
    return "127.0.0.1";
}

std::string CServerFixture::HostAndPort() const
{
    return Host() + ":" + std::to_string(Port());
}

std::string CServerFixture::BaseUrl() const
{
    return "http://" + HostAndPort();
}

std::wstring CServerFixture::BaseUrlW() const
{
    return Widen(BaseUrl());
}

void CServerFixture::Reply(const std::string& method, const std::string& path, const CScriptedReply& reply,
                           EPathMatch match, std::size_t times)
{
    CRoute route;
    route.kind = CRoute::EKind::Scripted;
    route.method = method;
    route.path = path;
    route.match = match;
    route.reply = reply;
    route.limited = times > 0;
    route.timesLeft = times;
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    m_impl->m_routes.push_back(std::move(route));
}

void CServerFixture::ReplyJson(const std::string& method, const std::string& path, int status,
                               const std::string& json, std::size_t times)
{
    CScriptedReply reply;
    reply.status = status;
    reply.body = json;
    Reply(method, path, reply, EPathMatch::Exact, times);
}

void CServerFixture::ReplyWith(const std::string& method, const std::string& path, EPathMatch match,
                               std::function<CScriptedReply(const CRecordedRequest&)> handler)
{
    CRoute route;
    route.kind = CRoute::EKind::Computed;
    route.method = method;
    route.path = path;
    route.match = match;
    route.handler = std::move(handler);
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    m_impl->m_routes.push_back(std::move(route));
}

void CServerFixture::ServeFiles(const std::string& pathPrefix, const std::wstring& folder)
{
    CRoute route;
    route.kind = CRoute::EKind::Files;
    route.path = pathPrefix;
    route.match = EPathMatch::Prefix;
    route.folder = folder;
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    m_impl->m_routes.push_back(std::move(route));
}

void CServerFixture::StoreUploads(const std::string& pathPrefix, const std::wstring& folder,
                                  const CScriptedReply& reply)
{
    CRoute route;
    route.kind = CRoute::EKind::Uploads;
    route.path = pathPrefix;
    route.match = EPathMatch::Prefix;
    route.folder = folder;
    route.reply = reply;
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    m_impl->m_routes.push_back(std::move(route));
}

void CServerFixture::ReplyToProxyRequests(const CScriptedReply& reply)
{
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    m_impl->m_hasProxyReply = true;
    m_impl->m_proxyReply = reply;
}

void CServerFixture::ClearReplies()
{
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    m_impl->m_routes.clear();
    m_impl->m_hasProxyReply = false;
}

void CServerFixture::InjectFaults(const CFaultPlan& plan)
{
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    m_impl->m_hasFaults = true;
    m_impl->m_faultPlan = plan;
    m_impl->m_random.seed(plan.seed);
    m_impl->m_faultCounts = CFaultCounts();
}

void CServerFixture::ClearFaults()
{
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    m_impl->m_hasFaults = false;
}

CFaultCounts CServerFixture::FaultCounts() const
{
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    return m_impl->m_faultCounts;
}

std::vector<CRecordedRequest> CServerFixture::Requests() const
{
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    return m_impl->m_requests;
}

std::vector<CRecordedRequest> CServerFixture::RequestsTo(const std::string& path) const
{
    std::vector<CRecordedRequest> out;
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    std::copy_if(m_impl->m_requests.begin(), m_impl->m_requests.end(), std::back_inserter(out),
                 [&](const CRecordedRequest& r) { return r.path == path; });
    return out;
}

std::size_t CServerFixture::RequestCount() const
{
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    return m_impl->m_requests.size();
}

bool CServerFixture::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_impl->m_mutex);
    return m_impl->m_changed.wait_for(lock, timeout, [&] { return m_impl->m_requests.size() >= count; });
}

void CServerFixture::ClearRequests()
{
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    m_impl->m_requests.clear();
}

std::string CServerFixture::HttpDate(std::time_t utc)
{
    const long long t = static_cast<long long>(utc);
    long long days = t / 86400;
    long long secs = t % 86400;
    if (secs < 0)
    {
        secs += 86400;
        --days;
    }
    long long y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    const int weekday = static_cast<int>(((days % 7) + 7) % 7);
    char text[40];
    std::snprintf(text, sizeof(text), "%s, %02u %s %04lld %02lld:%02lld:%02lld GMT", kWeekdays[weekday], d,
                  kMonths[m - 1], y, secs / 3600, secs / 60 % 60, secs % 60);
    return text;
}

bool CServerFixture::ParseHttpDate(const std::string& text, std::time_t& utc)
{
    char weekday[4] = {}, month[4] = {}, zone[4] = {};
    unsigned d = 0, hh = 0, mm = 0, ss = 0;
    int y = 0;
    if (std::sscanf(text.c_str(), "%3s, %u %3s %d %u:%u:%u %3s", weekday, &d, month, &y, &hh, &mm, &ss, zone) != 8 ||
        std::strlen(weekday) != 3 || std::strcmp(zone, "GMT") != 0 || d < 1 || d > 31 ||
        hh > 23 || mm > 59 || ss > 60)
    {
        return false;
    }
    const auto it = std::find_if(std::begin(kMonths), std::end(kMonths), [&](const char* m) { return std::strcmp(m, month) == 0; });
    if (it == std::end(kMonths))
    {
        return false;
    }
    const unsigned m = static_cast<unsigned>(it - std::begin(kMonths)) + 1;
    const long long seconds = DaysFromCivil(y, m, d) * 86400 + hh * 3600 + mm * 60 + ss;
    if (static_cast<long long>(static_cast<std::time_t>(seconds)) != seconds)
    {
        return false; // past 2038 where time_t has 32 bits
    }
    utc = static_cast<std::time_t>(seconds);
    return true;
}
