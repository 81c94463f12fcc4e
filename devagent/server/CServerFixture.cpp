#include "CServerFixture.h"

#include "CProxyForwarder.h"
#include "CRecordingServer.h"
#include "CRequestLog.h"
#include "FileRoutes.h"
#include "HttpText.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// The server's life (start, stop, idle time-out) and the path of one request through the parts: recorded,
// answered by the proxy or the script, struck by a fault, logged, then delayed, dropped or sent.
class CServerFixture::CImpl
{
public:
    CImpl(std::chrono::seconds idleTimeout, unsigned short fixedPort)
        : m_server([this] { CheckIdle(); }), m_idleTimeout(idleTimeout),
          m_lastActivity(std::chrono::steady_clock::now())
    {
        // No SO_REUSEADDR: the system picks a free port, and nobody else may share it.
        m_server.set_socket_options([](socket_t) {});
        m_server.set_idle_interval(0, 200 * 1000);
        m_server.set_keep_alive_timeout(2);
        m_server.set_read_timeout(10);
        m_server.set_write_timeout(10);
        const httplib::Server::Handler handler = [this](const httplib::Request& req, httplib::Response& res) {
            Handle(req, res);
        };
        m_server.Get(".*", handler);
        m_server.Post(".*", handler);
        m_server.Put(".*", handler);
        m_server.Delete(".*", handler);
        m_server.Patch(".*", handler);
        m_server.Options(".*", handler);

        const int port = fixedPort == 0                                ? m_server.bind_to_any_port("127.0.0.1")
                         : m_server.bind_to_port("127.0.0.1", fixedPort) ? fixedPort
                                                                         : -1;
        if (port <= 0)
            return;
        m_port = static_cast<unsigned short>(port);
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // Stop() is only heard once the accept loop runs.
        for (int i = 0; i < 5000 && !m_server.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    ~CImpl() { Stop(); }

    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_stopped.notify_all();
        m_server.stop();
        // Connections kept alive by clients would otherwise hold the workers until their time-out.
        m_server.CutConnections();
        if (m_thread.joinable())
            m_thread.join();
    }

    CRecordingServer m_server;
    std::thread m_thread;
    unsigned short m_port = 0;
    CRequestLog m_log;
    CReplyScript m_script;
    CProxyForwarder m_proxy;
    CFaultInjector m_faults;

private:
    void CheckIdle()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_inFlight == 0 && std::chrono::steady_clock::now() - m_lastActivity > m_idleTimeout)
            m_server.stop();
    }

    void Busy(int change)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_inFlight += change;
        m_lastActivity = std::chrono::steady_clock::now();
    }

    CRecordedRequest Record(const httplib::Request& req) const
    {
        CRecordedRequest rec;
        rec.method = req.method;
        rec.remoteAddress = req.remote_addr;
        rec.body = req.body;
        const std::string seen = CRecordingServer::CurrentRequestBytes();
        const auto headEnd = seen.find("\r\n\r\n");
        ReadRequestHead(seen.substr(0, headEnd), req.target, rec);
        // Multipart bodies are taken apart by the parser; keep them as they came.
        if (!req.files.empty() && headEnd != std::string::npos &&
            !EqualsNoCase(rec.Header("Transfer-Encoding"), "chunked"))
            rec.body = seen.substr(headEnd + 4);
        CProxyForwarder::NoticeOtherPort(rec, m_port);
        return rec;
    }

    void Handle(const httplib::Request& req, httplib::Response& res)
    {
        Busy(+1);
        CRecordedRequest rec = Record(req);
        CScriptedReply reply;
        if (rec.viaProxy)
        {
            reply = m_proxy.Answer(rec);
        }
        else
        {
            reply = m_script.Answer(rec);
            m_faults.Apply(reply);
        }
        rec.dropped = reply.dropConnection || reply.cutBody;
        rec.status = reply.dropConnection ? 0 : reply.status;
        m_log.Add(std::move(rec));

        if (reply.delay.count() > 0)
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_stopped.wait_for(lock, reply.delay, [this] { return m_stopping; });
        }
        if (reply.dropConnection)
        {
            // The answer that the library then tries to write goes nowhere, and it closes the connection.
            CRecordingServer::DropCurrentConnection();
            res.status = 500;
        }
        else
        {
            res.status = reply.status;
            bool hasContentType = false;
            for (const auto& h : reply.headers)
            {
                hasContentType = hasContentType || EqualsNoCase(h.first, "Content-Type");
                res.headers.emplace(h.first, h.second);
            }
            if (!reply.body.empty() && !hasContentType && !reply.contentType.empty())
                res.set_header("Content-Type", reply.contentType);
            if (reply.cutBody && !reply.body.empty())
                CutBody(res, std::move(reply.body));
            else
                res.body = std::move(reply.body);
        }
        Busy(-1);
    }

    // The head announces the whole body; after its first half the provider gives up and the library closes
    // the connection, as a server that fails in the middle of a transfer does.
    static void CutBody(httplib::Response& res, std::string body)
    {
        const std::size_t length = body.size();
        auto bytes = std::make_shared<std::string>(std::move(body));
        const std::string contentType = res.get_header_value("Content-Type");
        res.headers.erase("Content-Type");   // the provider sets it again
        res.set_content_provider(length, contentType,
                                 [bytes](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     if (offset == 0)
                                         sink.write(bytes->data(), bytes->size() / 2);
                                     return false;
                                 });
    }

    const std::chrono::steady_clock::duration m_idleTimeout;
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stopping = false;
    std::chrono::steady_clock::time_point m_lastActivity;
    int m_inFlight = 0;
};

CServerFixture::CServerFixture(std::chrono::seconds idleTimeout) : m_impl(new CImpl(idleTimeout, 0)) {}

CServerFixture::CServerFixture(std::chrono::seconds idleTimeout, unsigned short port)
    : m_impl(new CImpl(idleTimeout, port))
{
}

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
    return Utf8ToWide(BaseUrl());
}

void CServerFixture::Reply(const std::string& method, const std::string& path, const CScriptedReply& reply,
                           EPathMatch match, std::size_t times)
{
    m_impl->m_script.Add(method, path, match, reply, times);
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
    m_impl->m_script.AddHandler(method, path, match, std::move(handler));
}

void CServerFixture::ServeFiles(const std::string& pathPrefix, const std::wstring& folder)
{
    m_impl->m_script.AddFiles(pathPrefix, folder);
}

void CServerFixture::StoreUploads(const std::string& pathPrefix, const std::wstring& folder,
                                  const CScriptedReply& reply)
{
    m_impl->m_script.AddUploads(pathPrefix, folder, reply);
}

void CServerFixture::ReplyToProxyRequests(const CScriptedReply& reply)
{
    m_impl->m_proxy.SetReply(reply);
}

void CServerFixture::ClearReplies()
{
    m_impl->m_script.Clear();
    m_impl->m_proxy.ClearReply();
}

void CServerFixture::InjectFaults(const CFaultPlan& plan)
{
    m_impl->m_faults.Inject(plan);
}

void CServerFixture::ClearFaults()
{
    m_impl->m_faults.Clear();
}

CFaultCounts CServerFixture::FaultCounts() const
{
    return m_impl->m_faults.Counts();
}

std::vector<CRecordedRequest> CServerFixture::Requests() const
{
    return m_impl->m_log.All();
}

std::vector<CRecordedRequest> CServerFixture::RequestsTo(const std::string& path) const
{
    return m_impl->m_log.To(path);
}

std::size_t CServerFixture::RequestCount() const
{
    return m_impl->m_log.Count();
}

bool CServerFixture::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const
{
    return m_impl->m_log.WaitFor(count, timeout);
}

void CServerFixture::ClearRequests()
{
    m_impl->m_log.Clear();
}

std::string CServerFixture::HttpDate(std::time_t utc)
{
    return FormatHttpDate(utc);
}

bool CServerFixture::ParseHttpDate(const std::string& text, std::time_t& utc)
{
    return ::ParseHttpDate(text, utc);
}
