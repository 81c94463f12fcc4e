#include "PeerRequest.h"

#include "platform/TextUtil.h"

#include <httplib.h>

#include <cstdlib>

namespace standin
{

int PostToRepository(const std::wstring& address, std::uint32_t port, const std::string& body)
{
    std::string host = WideToUtf8(address);
    const std::size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(':') == colon)
    {
        port = static_cast<std::uint32_t>(std::strtoul(host.c_str() + colon + 1, nullptr, 10));
        host.resize(colon);
    }
    if (host.empty() || port == 0 || port > 65535)
        return 0;
    httplib::Client client(host, static_cast<int>(port));
    client.set_connection_timeout(5);
    client.set_read_timeout(10);
    const httplib::Result result = client.Post("/request", body, "application/json");
    return result ? result->status : 0;
}

} // namespace standin
