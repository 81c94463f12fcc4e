#pragma once
// How the repository network's stand-ins reach another agent's repository server.

#include <cstdint>
#include <string>

namespace standin
{

// POSTs body (UTF-8 JSON) to http://address/request, where address is "host" (then port) or "host:port".
// The HTTP status, or 0 when no answer came.
int PostToRepository(const std::wstring& address, std::uint32_t port, const std::string& body);

} // namespace standin
