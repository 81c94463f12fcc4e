#include "host/CNetworkService.h"

#include "host/Trace.h"

TRACE_UNIT("6e5b4cc8-e1f7-445f-9ec1-7da99f75b51a");

namespace
{
constexpr char kGetClient[] = "GetIRemoteEndpointControlClient";
} // namespace

CNetworkService::CNetworkService(const std::wstring& folder) : CComponentLibrary(folder, L"Fenrik.dll") {}

IRemoteEndpointControlClient* CNetworkService::GetRemoteEndpointControlClient()
{
    return Obtain<GetIRemoteEndpointControlClientFn>(
        kGetClient, [] { TRACE_ERROR(kTraceFlagGeneral, 10, "%s gave no client", kGetClient); });
}
