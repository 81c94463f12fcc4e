#include "CRecordingServer.h"

#include "CSocket.h"

#include <chrono>

namespace
{

// Keeps a copy of every byte that the server's parser reads.
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
            m_seen.append(ptr, static_cast<size_t>(n));
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

class CWatchedPool : public httplib::ThreadPool
{
public:
    CWatchedPool(size_t threads, std::function<void()> onIdle) : ThreadPool(threads), m_onIdle(std::move(onIdle)) {}
    void on_idle() override { m_onIdle(); }

private:
    std::function<void()> m_onIdle;
};

// Keeps a socket in the set of open connections for as long as it lives.
class COpenConnection
{
public:
    COpenConnection(std::mutex& mutex, std::set<socket_t>& sockets, socket_t sock)
        : m_mutex(mutex), m_sockets(sockets), m_sock(sock)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sockets.insert(m_sock);
    }
    ~COpenConnection()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sockets.erase(m_sock);
    }
    COpenConnection(const COpenConnection&) = delete;
    COpenConnection& operator=(const COpenConnection&) = delete;

private:
    std::mutex& m_mutex;
    std::set<socket_t>& m_sockets;
    socket_t m_sock;
};

} // namespace

CRecordingServer::CRecordingServer(std::function<void()> onIdle)
{
    new_task_queue = [onIdle] { return new CWatchedPool(8, onIdle); };
}

std::string CRecordingServer::CurrentRequestBytes()
{
    return t_currentStream ? t_currentStream->Seen() : std::string();
}

void CRecordingServer::DropCurrentConnection()
{
    if (t_currentStream)
        ::shutdown(t_currentStream->socket(), SD_BOTH);
}

void CRecordingServer::CutConnections()
{
    std::lock_guard<std::mutex> lock(m_socketsMutex);
    for (const auto s : m_sockets)
        ::shutdown(s, SD_BOTH);
}

bool CRecordingServer::process_and_close_socket(socket_t sock)
{
    const CSocket owner(sock);
    const COpenConnection open(m_socketsMutex, m_sockets, sock); // leaves the set before the owner closes
    bool ret = false;
    for (auto count = keep_alive_max_count_; count > 0 && NextRequestComes(sock); --count)
    {
        httplib::detail::SocketStream socketStream(sock, read_timeout_sec_, read_timeout_usec_, write_timeout_sec_,
                                                   write_timeout_usec_);
        CTeeStream tee(socketStream);
        bool connectionClosed = false;
        t_currentStream = &tee;
        ret = process_request(tee, count == 1, connectionClosed, nullptr);
        t_currentStream = nullptr;
        if (!ret || connectionClosed)
            break;
    }
    return ret;
}

// Waits for the client's next request on a kept-alive connection, but gives up as soon as the server
// stops, rather than after the keep-alive time-out.
bool CRecordingServer::NextRequestComes(socket_t sock) const
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    while (svr_sock_ != INVALID_SOCKET)
    {
        const auto ready = httplib::detail::select_read(sock, 0, 10000);
        if (ready != 0)
            return ready > 0;
        if (std::chrono::steady_clock::now() > until)
            return false;
    }
    return false;
}
