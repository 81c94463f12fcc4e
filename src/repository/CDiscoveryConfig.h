#pragma once
// The discovery settings ("AgentServices.Discovery.Settings", a JSON object), read once at construction. A
// member missing or of another type keeps its default; unreadable settings keep them all.

#include "host/CConfigReader.h"

#include <cstdint>

class IDiscoveryConfig
{
public:
    virtual ~IDiscoveryConfig() = default;
    virtual bool Enabled() const = 0;
    virtual std::uint32_t Port() const = 0;
    virtual std::uint32_t DiscoveryInterval() const = 0;
    virtual std::uint32_t MaxProviders() const = 0;
    virtual std::uint32_t MaxFails() const = 0;
};

namespace Discovery
{

class CDiscoveryConfig : public IDiscoveryConfig, private CConfigReader
{
public:
    // A null util takes the module's; throws std::invalid_argument("configUtil") when there is none.
    explicit CDiscoveryConfig(IConfigUtil* util = nullptr);

    bool Enabled() const override { return m_enabled; }
    std::uint32_t Port() const override { return m_port; }
    std::uint32_t DiscoveryInterval() const override { return m_discoveryInterval; }
    std::uint32_t MaxProviders() const override { return m_maxProviders; }
    std::uint32_t MaxFails() const override { return m_maxFails; }

    static constexpr std::uint32_t kDefaultPort = 21226;

private:
    bool m_enabled = true;
    std::uint32_t m_port = kDefaultPort;
    std::uint32_t m_discoveryInterval = 60;
    std::uint32_t m_maxProviders = 64;
    std::uint32_t m_maxFails = 3;
};

} // namespace Discovery
