#include "repository/CDiscoveryConfig.h"

#include "host/Trace.h"
#include "repository/CRepositoryServerConfig.h"

TRACE_UNIT("1cb80aaf-a921-471d-bb20-e1eab97b32ff");

namespace Discovery
{

CDiscoveryConfig::CDiscoveryConfig(IConfigUtil* util) : CConfigReader(Repository::RequireConfigUtil(util))
{
    CMessageObject settings;
    if (!ReadObject(L"AgentServices.Discovery.Settings", settings))
    {
        TRACE_INFO(kTraceFlagEvents, 10, "no usable discovery settings: defaults apply");
        return;
    }
    settings.GetBool(L"Enabled", m_enabled);
    settings.GetUInt32(L"Port", m_port);
    settings.GetUInt32(L"DiscoveryInterval", m_discoveryInterval);
    settings.GetUInt32(L"MaxProviders", m_maxProviders);
    settings.GetUInt32(L"MaxFails", m_maxFails);
}

} // namespace Discovery
