#pragma once
// Puts the agent's own repository server first among the providers a download tries, and recognises it
// again among providers from elsewhere.

#include "host/IAgentServiceProvidersList.h"
#include "host/IConfigUtil.h"
#include "repository/CRepositoryServiceProvider.h"

#include <memory>
#include <string>

class CRepositoryConsumer
{
public:
    // util serves the settings and the device id (null: the module's).
    explicit CRepositoryConsumer(IConfigUtil* util = nullptr);
    virtual ~CRepositoryConsumer() = default;

    // Appends the local server (this computer's DNS name, else "localhost", and the configured port) and keeps
    // it, when the server is enabled and ready and the agent has a device id; false otherwise.
    bool AddLocalRepositoryProvider(RepositoryProviders& providers);
    // Same address, code unit by code unit, and same port as the kept local provider.
    bool IsLocalProvider(const CAgentServiceProvider& provider) const;

protected:
    // As given: null stands for the module's.
    IConfigUtil* ConfigUtil() const { return m_configUtil; }
    // This computer's fully qualified DNS name; false when it cannot be had.
    virtual bool ReadDnsName(std::wstring& name);

private:
    std::shared_ptr<CRepositoryServiceProvider> m_localProvider;
    IConfigUtil* m_configUtil;
};
