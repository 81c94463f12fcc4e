#include "host/CDiscoveryManagerLoader.h"

#include "host/Trace.h"

TRACE_UNIT("5d66a394-6bd7-4cd2-98d4-577a34d71ed3");

namespace
{
constexpr char kGetDiscoveryInterface[] = "get_discovery_interface";
} // namespace

CDiscoveryManagerLoader::CDiscoveryManagerLoader(const std::wstring& folder) : CComponentLibrary(folder, L"Yarran.dll")
{
}

IDiscoveryInterface* CDiscoveryManagerLoader::GetDiscoveryInterface()
{
    DWORD error = ERROR_SUCCESS;
    const auto gaveNothing = [&error] {
        TRACE_ERROR(kTraceFlagGeneral, 10, "%s gave no interface: error %u", kGetDiscoveryInterface, error);
    };
    return Obtain<GetDiscoveryInterfaceFn>(kGetDiscoveryInterface, gaveNothing, &error);
}
