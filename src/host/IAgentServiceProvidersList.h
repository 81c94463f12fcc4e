#pragma once
// The providers list that the agent services component (Pelter.dll) hands out for one agent service
// ("GetAgentServiceProvidersList" with the service's name, given back with "FreeAgentServiceProvidersList"
// with the name and the list). Slots 1 to 4 are the component's own.
//
// Shared by the plug-in and the stand-in component; binary contract as in IPlugin.h.

#include <memory>
#include <vector>

class CRepositoryServiceProvider;

using RepositoryProviders = std::vector<std::shared_ptr<CRepositoryServiceProvider>>;

class IAgentServiceProvidersList
{
public:
    virtual ~IAgentServiceProvidersList() = default;   // slot 0
    virtual void Reserved1() = 0;
    virtual void Reserved2() = 0;
    virtual void Reserved3() = 0;
    virtual void Reserved4() = 0;
    // Appends the repository providers it knows, in its own order.
    virtual bool AppendRepositoryProviders(RepositoryProviders& providers) = 0;   // slot 5
};

constexpr wchar_t kRepositoryServiceName[] = L"Repository";
