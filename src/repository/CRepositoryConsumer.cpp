#include "repository/CRepositoryConsumer.h"

#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "repository/CRepositoryServer.h"
#include "repository/CRepositoryServerConfig.h"

#include <stdexcept>
#include <vector>

TRACE_UNIT("f0018110-e7eb-4751-a478-ee8c57ea5164");

CRepositoryConsumer::CRepositoryConsumer(IConfigUtil* util) : m_configUtil(util) {}

bool CRepositoryConsumer::AddLocalRepositoryProvider(RepositoryProviders& providers)
{
    Repository::CRepositoryServer server(m_configUtil);
    if (!server.IsEnabled() || !server.IsReady())
    {
        TRACE_INFO(kTraceFlagEvents, 10, "the local repository server is not enabled or not ready");
        return false;
    }

    std::wstring address = L"localhost";
    std::uint32_t port = 0;
    try
    {
        port = Repository::CRepositoryServerConfig(m_configUtil).Port();
    }
    catch (const std::invalid_argument&)
    {
        TRACE_WARNING(kTraceFlagEvents, 11, "no repository settings: the local provider has no port");
    }
    std::wstring deviceId;
    if (!GetRegisteredDeviceId(deviceId, m_configUtil))
        deviceId.clear();

    std::wstring dnsName;
    if (ReadDnsName(dnsName))
        address = dnsName;
    else
        TRACE_WARNING(kTraceFlagEvents, 12, "this computer's DNS name cannot be read: the local provider is %ls",
                      address);

    if (deviceId.empty())
        return false;
    m_localProvider = CRepositoryServiceProvider::Make(deviceId, address, port, m_configUtil);
    providers.push_back(m_localProvider);
    return true;
}

bool CRepositoryConsumer::IsLocalProvider(const CAgentServiceProvider& provider) const
{
    return m_localProvider && provider.Address() == m_localProvider->Address() &&
           provider.Port() == m_localProvider->Port();
}

bool CRepositoryConsumer::ReadDnsName(std::wstring& name)
{
    DWORD size = 0;
    ::GetComputerNameExW(ComputerNameDnsFullyQualified, nullptr, &size);
    if (size == 0)
        return false;
    std::vector<wchar_t> buffer(size);
    if (!::GetComputerNameExW(ComputerNameDnsFullyQualified, buffer.data(), &size))
        return false;
    name.assign(buffer.data(), size);
    return !name.empty();
}
