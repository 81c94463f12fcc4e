#include "LoopbackPorts.h"

#include "CSocket.h"

#include <ws2tcpip.h>

namespace
{

// Winsock for the calls here; the count is the system's, so nesting with other users is fine.
class CWinsock
{
public:
    CWinsock() { m_ready = ::WSAStartup(MAKEWORD(2, 2), &m_data) == 0; }
    ~CWinsock()
    {
        if (m_ready)
            ::WSACleanup();
    }
    CWinsock(const CWinsock&) = delete;
    CWinsock& operator=(const CWinsock&) = delete;

private:
    WSADATA m_data{};
    bool m_ready = false;
};

sockaddr_in Address(const std::string& address, unsigned short port)
{
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = ::htons(port);
    ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    return where;
}

} // namespace

std::vector<unsigned short> PickFreePorts(const std::string& address, std::size_t count)
{
    const CWinsock winsock;
    // All held at once, so that the system gives distinct ones.
    std::vector<CSocket> held;
    std::vector<unsigned short> ports;
    for (std::size_t i = 0; i < count; ++i)
    {
        CSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in where = Address(address, 0);
        int length = sizeof(where);
        if (!socket || ::bind(socket.Get(), reinterpret_cast<sockaddr*>(&where), sizeof(where)) != 0 ||
            ::getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&where), &length) != 0)
            return {};
        ports.push_back(::ntohs(where.sin_port));
        held.push_back(std::move(socket));
    }
    return ports;
}

bool IsListening(const std::string& address, unsigned short port)
{
    const CWinsock winsock;
    CSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const sockaddr_in where = Address(address, port);
    return socket && ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&where), sizeof(where)) == 0;
}
