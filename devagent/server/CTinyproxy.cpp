#include "CTinyproxy.h"

#include "LoopbackPorts.h"

#include "platform/Files.h"
#include "platform/TextUtil.h"

namespace
{
constexpr char kAddress[] = "127.0.0.2";
}

bool CTinyproxy::Start(const std::string& user, const std::string& password, std::wstring& reason)
{
    if (!m_server.Stop() || !m_server.MakeFolder(L"tinyproxy", reason))
        return false;
    const std::vector<unsigned short> ports = PickFreePorts(kAddress, 1);
    if (ports.empty())
    {
        reason = L"no free port on 127.0.0.2";
        return false;
    }
    m_port = ports.front();
    const std::string work = WideToUtf8(m_server.UnixFolder());
    std::string conf = "Port " + std::to_string(m_port) + "\nListen " + kAddress +
                       "\nTimeout 60\nMaxClients 64\nLogLevel Connect\nLogFile \"" + work +
                       "tinyproxy.log\"\nAllow 127.0.0.0/8\nDisableViaHeader Yes\n";
    if (!user.empty())
        conf += "BasicAuth " + user + " " + password + "\n";
    if (const DWORD error = WriteWholeFile(m_server.Folder() + L"tinyproxy.conf", conf); error != ERROR_SUCCESS)
    {
        reason = L"cannot write tinyproxy.conf: error " + std::to_wstring(error);
        return false;
    }
    return m_server.Launch({L"/usr/bin/tinyproxy", L"-d", L"-c", m_server.UnixFolder() + L"tinyproxy.conf"},
                           L"tinyproxy", kAddress, ports, reason);
}

std::wstring CTinyproxy::Address() const
{
    return L"127.0.0.2:" + std::to_wstring(m_port);
}
