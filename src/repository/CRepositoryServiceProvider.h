#pragma once
// A repository endpoint: address and port (compared as the base compares them, the device id aside) and the
// agent that runs it. Announcements are usable only from the agent's own site.

#include "host/CAgentServiceProvider.h"
#include "host/IConfigUtil.h"

#include <memory>
#include <string>

class CRepositoryServiceProvider : public CAgentServiceProvider
{
public:
    CRepositoryServiceProvider(std::wstring deviceId, std::wstring address, std::uint32_t port,
                               IConfigUtil* util = nullptr);

    static std::shared_ptr<CRepositoryServiceProvider> Make(std::wstring deviceId, std::wstring address,
                                                            std::uint32_t port, IConfigUtil* util = nullptr);

    // True when the announcement's String "SiteId" equals the agent's own site id; its String "DeviceId" is
    // then taken. False, traced, otherwise.
    [[nodiscard]] bool IsUsable(const CMessageObject& announcement) override;
    void ToMessage(CMessageObject& message) const override;
    // The base's items, then a String "DeviceId"; false without it.
    [[nodiscard]] bool FromMessage(const CMessageObject& message) override;

    const std::wstring& DeviceId() const { return m_deviceId; }

private:
    std::wstring m_deviceId;
    IConfigUtil* m_configUtil;   // for the site id; null: the module's
};
