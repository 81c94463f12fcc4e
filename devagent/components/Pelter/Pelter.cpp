// The development agent's agent services component: the providers list of the "Repository" service, the
// peers named in the configuration (README).

#include "../common/StandInConfig.h"
#include "host/ComponentExports.h"
#include "host/IAgentServiceProvidersList.h"
#include "repository/CRepositoryServiceProvider.h"

#include <cwchar>
#include <memory>
#include <mutex>
#include <set>

#define EXPORT extern "C" __declspec(dllexport)

namespace
{

constexpr wchar_t kProviders[] = L"Pelter.Repository.Providers";
constexpr wchar_t kNoList[] = L"Pelter.Fault.NoList";
constexpr wchar_t kFailAppend[] = L"Pelter.Fault.FailAppend";

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
            const CMessageObject config = standin::ReadConfig();
            if (standin::IsOn(config, kFailAppend))
                return false;
            const CMessageObject* peers = nullptr;
            if (!config.GetArray(kProviders, peers))
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

std::mutex g_mutex;
std::set<UINT_PTR> g_outstanding;

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
        if (!IsRepositoryService(argument) || standin::IsOn(standin::ReadConfig(), kNoList))
            return 0;
        auto list = std::make_unique<CRepositoryProvidersList>();
        const auto handle = reinterpret_cast<UINT_PTR>(static_cast<IAgentServiceProvidersList*>(list.get()));
        std::lock_guard<std::mutex> lock(g_mutex);
        g_outstanding.insert(handle);
        list.release();
        return handle;
    }
    catch (...)
    {
        return 0;
    }
}

// first: the service's name, second: the list. A list not handed out is ignored.
EXPORT void FreeAgentServiceProvidersList(UINT_PTR, UINT_PTR second)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_outstanding.erase(second) == 0)
            return;
    }
    delete reinterpret_cast<IAgentServiceProvidersList*>(second);
}

EXPORT DWORD PelterOutstandingObjects()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<DWORD>(g_outstanding.size());
}
