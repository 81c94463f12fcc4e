#pragma once
// tinyproxy (Debian) as the proxy between the agent and the management server, for the tests: started with a
// configuration of its own under the build tree, on 127.0.0.2 and a port the system picks, stopped by its
// process id when the object goes. With a user, it asks for Basic credentials (407) on every request and
// CONNECT.
//
// It listens on 127.0.0.2 rather than beside the servers on 127.0.0.1: Wine's WinHTTP talks to a proxy on the
// server's own host name as if it were the server.

#include "CUnixProcess.h"

#include <string>

class CTinyproxy
{
public:
    // user empty: no credentials asked. False with a reason (naming the package when tinyproxy is missing).
    bool Start(const std::string& user, const std::string& password, std::wstring& reason);
    bool Stop() { return m_server.Stop(); }

    // "127.0.0.2:<port>", as a proxy list names it.
    std::wstring Address() const;
    // What it logged: one line per request and CONNECT ("Request (file descriptor 5): CONNECT 127.0.0.1:443
    // HTTP/1.1"), and the refusals.
    std::string Log() const { return m_server.ReadText(L"tinyproxy.log"); }

private:
    CUnixServer m_server;
    unsigned short m_port = 0;
};
