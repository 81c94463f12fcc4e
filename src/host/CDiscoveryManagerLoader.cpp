#include "host/CDiscoveryManagerLoader.h"

#include "host/Trace.h"

TRACE_UNIT("5d66a394-6bd7-4cd2-98d4-577a34d71ed3");

namespace
{
constexpr wchar_t kDiscoveryLibrary[] = L"Yarran.dll";
constexpr char kGetDiscoveryInterface[] = "get_discovery_interface";
} // namespace

CDiscoveryManagerLoader::CDiscoveryManagerLoader(const std::wstring& folder) : m_library(folder, kDiscoveryLibrary) {}

bool CDiscoveryManagerLoader::Load()
{
    return m_library.Load();
}

IDiscoveryInterface* CDiscoveryManagerLoader::GetDiscoveryInterface()
{
    if (!m_library.IsLoaded())
        return nullptr;
    const auto get = m_library.FindAs<GetDiscoveryInterfaceFn>(kGetDiscoveryInterface);
    if (get == nullptr)
        return nullptr;
    DWORD error = ERROR_SUCCESS;
    IDiscoveryInterface* discovery = get(&error);
    if (discovery == nullptr)
        TRACE_ERROR(kTraceFlagGeneral, 10, "%s gave no interface: error %u", kGetDiscoveryInterface, error);
    return discovery;
}
