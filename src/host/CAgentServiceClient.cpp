#include "host/CAgentServiceClient.h"

#include "host/ComponentExports.h"
#include "host/InstallLocations.h"
#include "host/Trace.h"

TRACE_UNIT("0fb3a5c9-5381-443a-8699-03187d6abfb0");

namespace
{
constexpr wchar_t kAgentServicesLibrary[] = L"Pelter.dll";
} // namespace

CAgentServiceClient::CAgentServiceClient() : m_library(FolderOrEmpty(GetPluginsFolder), kAgentServicesLibrary)
{
    if (m_library.Folder().empty())
        TRACE_ERROR(kTraceFlagGeneral, 10, "no plug-ins folder for %ls", kAgentServicesLibrary);
    static_cast<void>(m_library.Load());   // a failure is traced by the library
}

UINT_PTR CAgentServiceClient::GetProvidersList(UINT_PTR argument)
{
    return m_library.Call<GetAgentServiceProvidersListFn>("GetAgentServiceProvidersList", argument);
}

void CAgentServiceClient::FreeProvidersList(UINT_PTR first, UINT_PTR second)
{
    m_library.Call<FreeAgentServiceProvidersListFn>("FreeAgentServiceProvidersList", first, second);
}
