#pragma once
// Ports on the loopback addresses for servers that cannot report the port they were given: the system picks
// free ones, which are let go again for the server to take.

#include <chrono>
#include <string>
#include <vector>

// count distinct free ports on address ("127.0.0.1"); empty when the system gives none.
std::vector<unsigned short> PickFreePorts(const std::string& address, std::size_t count);

// Whether something accepts connections on address:port.
bool IsListening(const std::string& address, unsigned short port);
