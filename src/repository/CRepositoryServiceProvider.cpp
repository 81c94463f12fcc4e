#include "repository/CRepositoryServiceProvider.h"

#include "host/InstallLocations.h"
#include "host/Trace.h"

#include <utility>

TRACE_UNIT("6abb64e2-843b-4f31-81ac-e1edf03818c5");

namespace
{
constexpr wchar_t kSiteIdKey[] = L"SiteId";
constexpr wchar_t kDeviceIdKey[] = L"DeviceId";
} // namespace

CRepositoryServiceProvider::CRepositoryServiceProvider(std::wstring deviceId, std::wstring address,
                                                       std::uint32_t port, IConfigUtil* util)
    : CAgentServiceProvider(std::move(address), port), m_deviceId(std::move(deviceId)), m_configUtil(util)
{
}

std::shared_ptr<CRepositoryServiceProvider> CRepositoryServiceProvider::Make(std::wstring deviceId,
                                                                             std::wstring address,
                                                                             std::uint32_t port, IConfigUtil* util)
{
    return std::make_shared<CRepositoryServiceProvider>(std::move(deviceId), std::move(address), port, util);
}

bool CRepositoryServiceProvider::IsUsable(const CMessageObject& announcement)
{
    std::wstring siteId;
    if (!announcement.GetString(kSiteIdKey, siteId))
    {
        TRACE_WARNING(kTraceFlagEvents, 10, "provider %ls announced without a text %ls", Address(), kSiteIdKey);
        return false;
    }
    std::wstring ownSiteId;
    if (!GetRegisteredSiteId(ownSiteId, m_configUtil))
    {
        TRACE_WARNING(kTraceFlagEvents, 11, "provider %ls: this agent's site id cannot be read", Address());
        return false;
    }
    if (siteId != ownSiteId)
    {
        TRACE_WARNING(kTraceFlagEvents, 12, "provider %ls is of site %ls, this agent of site %ls", Address(), siteId,
                      ownSiteId);
        return false;
    }
    announcement.GetString(kDeviceIdKey, m_deviceId);
    return true;
}

void CRepositoryServiceProvider::ToMessage(CMessageObject& message) const
{
    CAgentServiceProvider::ToMessage(message);
    message.AddString(kDeviceIdKey, m_deviceId);
}

bool CRepositoryServiceProvider::FromMessage(const CMessageObject& message)
{
    if (!CAgentServiceProvider::FromMessage(message))
        return false;
    return message.GetString(kDeviceIdKey, m_deviceId);
}
