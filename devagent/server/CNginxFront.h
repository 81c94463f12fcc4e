#pragma once
// nginx (Debian nginx-light) as the management server's HTTPS front, for the tests and the demo: started with
// a configuration of its own under the build tree, on loopback ports the system picks, and stopped by its
// process id when the object goes. Its certificates come from the build's test authority (the "tls" folder of
// the build tree, whose root the build's Wine prefix trusts).
//
// Every front forwards to the fixture (uploads streamed as they come); each has its own server certificate,
// so that one nginx serves every case of the trust settings. A last server serves a folder of files as any web
// server does (Last-Modified, If-Modified-Since and 304, 404).

#include "CUnixProcess.h"

#include <array>
#include <string>

class CNginxFront
{
public:
    enum class ECertificate
    {
        Trusted,    // signed by the trusted test root, for 127.0.0.1 and localhost
        Expired,    // the same, valid in 2020 only
        OtherName,  // signed by the trusted root, for another host
        SelfSigned, // nobody's root
    };

    // Forwards to the fixture on fixturePort; serves files from fileFolder (none when empty). False with a
    // reason (naming the package when nginx is missing).
    bool Start(unsigned short fixturePort, const std::wstring& fileFolder, std::wstring& reason);
    // True when nginx is gone (or never ran).
    bool Stop() { return m_server.Stop(); }

    // "https://127.0.0.1:<port>" of the front with that certificate, or of the file server.
    std::wstring Url(ECertificate certificate = ECertificate::Trusted) const;
    std::wstring FileUrl() const;

    // What nginx logged of the requests it was sent: "<status> <request line>" a line.
    std::string AccessLog() const { return m_server.ReadText(L"access.log"); }

    // A text of the test authority ("server.sha256", "selfsigned.b64", ...), without its line end.
    static std::wstring AuthorityText(const std::wstring& name);

private:
    CUnixServer m_server;
    std::array<unsigned short, 5> m_ports{}; // the four fronts in ECertificate order, then the file server
};
