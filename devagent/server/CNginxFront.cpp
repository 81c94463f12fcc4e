#include "CNginxFront.h"

#include "LoopbackPorts.h"

#include "platform/Files.h"
#include "platform/TextUtil.h"

namespace
{

constexpr char kAddress[] = "127.0.0.1";
constexpr const wchar_t* kCertificates[] = {L"server", L"expired", L"othername", L"selfsigned"};

std::wstring TlsFolder()
{
    return BuildTreeFolder() + L"tls\\";
}

std::string Tls(const std::string& folder, const wchar_t* certificate)
{
    const std::string name = folder + WideToUtf8(certificate);
    return "    ssl_certificate " + name + ".crt;\n    ssl_certificate_key " + name + ".key;\n";
}

std::string Listen(unsigned short port)
{
    return "    listen " + std::string(kAddress) + ":" + std::to_string(port) + " ssl;\n";
}

} // namespace

bool CNginxFront::Start(unsigned short fixturePort, const std::wstring& fileFolder, std::wstring& reason)
{
    if (!m_server.Stop() || !m_server.MakeFolder(L"nginx", reason))
        return false;
    const std::vector<unsigned short> ports = PickFreePorts(kAddress, m_ports.size());
    const std::string tls = WideToUtf8(UnixPathOf(TlsFolder()));
    if (ports.size() != m_ports.size() || tls.empty() || !IsFile(TlsFolder() + L"server.crt"))
    {
        reason = L"no free ports, or no test authority in " + TlsFolder();
        return false;
    }
    std::copy(ports.begin(), ports.end(), m_ports.begin());

    const std::string work = WideToUtf8(m_server.UnixFolder());
    std::string conf = "daemon off;\nmaster_process off;\nworker_processes 1;\n"
                       "pid " +
                       work + "nginx.pid;\nerror_log " + work +
                       "error.log info;\n"
                       "events { worker_connections 256; }\n"
                       "http {\n"
                       "  log_format requests '$status $request';\n"
                       "  access_log " +
                       work + "access.log requests;\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf += "  " + std::string(temp) + "_temp_path " + work + temp + ";\n";
    conf += "  client_max_body_size 0;\n";
    for (std::size_t i = 0; i < std::size(kCertificates); ++i)
        conf += "  server {\n" + Listen(m_ports[i]) + Tls(tls, kCertificates[i]) +
                "    location / {\n"
                "      proxy_pass http://127.0.0.1:" +
                std::to_string(fixturePort) +
                ";\n"
                "      proxy_http_version 1.1;\n"
                "      proxy_set_header Connection \"\";\n"
                "      proxy_request_buffering off;\n"
                "      proxy_buffering off;\n"
                "    }\n  }\n";
    const std::string files = fileFolder.empty() ? work + "empty" : WideToUtf8(UnixPathOf(fileFolder));
    conf += "  server {\n" + Listen(m_ports.back()) + Tls(tls, kCertificates[0]) + "    root " + files + ";\n  }\n}\n";
    if (const DWORD error = WriteWholeFile(m_server.Folder() + L"nginx.conf", conf); error != ERROR_SUCCESS)
    {
        reason = L"cannot write nginx.conf: error " + std::to_wstring(error);
        return false;
    }
    const std::wstring unixWork = m_server.UnixFolder();
    return m_server.Launch(
        {L"/usr/sbin/nginx", L"-e", unixWork + L"error.log", L"-p", unixWork, L"-c", unixWork + L"nginx.conf"},
        L"nginx-light", kAddress, ports, reason);
}

std::wstring CNginxFront::Url(ECertificate certificate) const
{
    return L"https://127.0.0.1:" + std::to_wstring(m_ports[static_cast<std::size_t>(certificate)]);
}

std::wstring CNginxFront::FileUrl() const
{
    return L"https://127.0.0.1:" + std::to_wstring(m_ports.back());
}

std::wstring CNginxFront::AuthorityText(const std::wstring& name)
{
    std::string text;
    static_cast<void>(ReadWholeFile(TlsFolder() + name, text));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return Utf8ToWide(text);
}
