// The development agent's agent services component: the providers list of the "Repository" service, the
// peers named in the configuration (README).

#include "CComponentSettings.h"
#include "host/ComponentExports.h"
#include "host/IAgentServiceProvidersList.h"
#include "platform/CHandedOut.h"
#include "repository/CRepositoryServiceProvider.h"

#include <cwchar>
#include <memory>

#define EXPORT extern "C" __declspec(dllexport)

namespace
{

constexpr wchar_t kProviders[] = L"Pelter.Repository.Providers";
constexpr wchar_t kNoList[] = L"Pelter.Fault.NoList";
constexpr wchar_t kFailAppend[] = L"Pelter.Fault.FailAppend";

CComponentSettings g_settings;

class CRepositoryProvidersList final : public IAgentServiceProvidersList
{
public:
    void Reserved1() override {}
    void Reserved2() override {}
    void Reserved3() override {}
    void Reserved4() override {}

    bool AppendRepositoryProviders(RepositoryProviders& providers) override
    {
        try
        {
            if (g_settings.IsOn(kFailAppend))
                return false;
            const auto config = g_settings.Values();
            const CMessageObject* peers = nullptr;
            if (!config->GetArray(kProviders, peers))
                return true;
            for (const CMessageItem& peer : peers->Items())
            {
                if (peer.m_type != Object || peer.m_value.object == nullptr)
                    continue;
                auto provider = CRepositoryServiceProvider::Make(L"", L"", 0);
                if (provider->FromMessage(*peer.m_value.object))
                    providers.push_back(std::move(provider));
            }
            return true;
        }
        catch (...)
        {
            return false;
        }
    }
};

CHandedOut<IAgentServiceProvidersList> g_lists;

bool IsRepositoryService(UINT_PTR name)
{
    const auto text = reinterpret_cast<const wchar_t*>(name);
    return text != nullptr && std::wcscmp(text, kRepositoryServiceName) == 0;
}

} // namespace

// argument: the service's name; only "Repository" has a list. 0 otherwise.
EXPORT UINT_PTR GetAgentServiceProvidersList(UINT_PTR argument)
{
    try
    {
        if (!IsRepositoryService(argument) || g_settings.IsOn(kNoList))
            return 0;
        return reinterpret_cast<UINT_PTR>(g_lists.HandOut(std::make_unique<CRepositoryProvidersList>()));
    }
    catch (...)
    {
        return 0;
    }
}

// first: the service's name, second: the list. A list not handed out is ignored.
EXPORT void FreeAgentServiceProvidersList(UINT_PTR, UINT_PTR second)
{
    auto list = reinterpret_cast<IAgentServiceProvidersList*>(second);
    g_lists.TakeBack(&list);
}

EXPORT DWORD PelterOutstandingObjects()
{
    return g_lists.Outstanding();
}
