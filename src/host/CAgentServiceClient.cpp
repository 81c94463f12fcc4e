#include "host/CAgentServiceClient.h"

#include "host/ComponentExports.h"
#include "host/InstallLocations.h"
#include "host/Trace.h"

TRACE_UNIT("0fb3a5c9-5381-443a-8699-03187d6abfb0");

namespace
{
constexpr wchar_t kAgentServicesLibrary[] = L"Pelter.dll";
constexpr char kGetProvidersList[] = "GetAgentServiceProvidersList";
constexpr char kFreeProvidersList[] = "FreeAgentServiceProvidersList";
} // namespace

CAgentServiceClient::CAgentServiceClient()
{
    std::wstring folder;
    // Without the install path the loader refuses the empty folder: nothing is loaded by its bare name.
    if (!GetPluginsFolder(folder))
        TRACE_ERROR(kTraceFlagGeneral, 10, "no plug-ins folder for %ls", kAgentServicesLibrary);
    m_loader = std::make_unique<CLoader>(folder);
    if (!m_loader->Load(kAgentServicesLibrary, std::wstring()))
        TRACE_ERROR(kTraceFlagGeneral, 11, "cannot load component %ls", kAgentServicesLibrary);
}

CAgentServiceClient::~CAgentServiceClient() = default;

UINT_PTR CAgentServiceClient::GetProvidersList(UINT_PTR argument)
{
    if (!m_loader)
        return 0;
    const auto get = reinterpret_cast<GetAgentServiceProvidersListFn>(m_loader->GetProc(kGetProvidersList));
    if (get == nullptr)
    {
        TRACE_ERROR(kTraceFlagGeneral, 12, "component %ls lacks %s", kAgentServicesLibrary, kGetProvidersList);
        return 0;
    }
    return get(argument);
}

void CAgentServiceClient::FreeProvidersList(UINT_PTR first, UINT_PTR second)
{
    if (!m_loader)
        return;
    const auto release = reinterpret_cast<FreeAgentServiceProvidersListFn>(m_loader->GetProc(kFreeProvidersList));
    if (release == nullptr)
    {
        TRACE_ERROR(kTraceFlagGeneral, 13, "component %ls lacks %s", kAgentServicesLibrary, kFreeProvidersList);
        return;
    }
    release(first, second);
}
