#include "host/CNetworkService.h"

#include "host/Trace.h"

TRACE_UNIT("6e5b4cc8-e1f7-445f-9ec1-7da99f75b51a");

namespace
{
constexpr wchar_t kNetworkServiceLibrary[] = L"Fenrik.dll";
constexpr char kGetClient[] = "GetIRemoteEndpointControlClient";
constexpr char kFreeClient[] = "FreeIRemoteEndpointControlClient";
} // namespace

CNetworkService::CNetworkService(const std::wstring& folder) : m_library(folder, kNetworkServiceLibrary) {}

bool CNetworkService::Load()
{
    return m_library.Load();
}

IRemoteEndpointControlClient* CNetworkService::GetRemoteEndpointControlClient()
{
    if (!m_library.IsLoaded())
        return nullptr;
    const auto get = m_library.FindAs<GetIRemoteEndpointControlClientFn>(kGetClient);
    if (get == nullptr)
        return nullptr;
    IRemoteEndpointControlClient* client = get();
    if (client == nullptr)
        TRACE_ERROR(kTraceFlagGeneral, 10, "%s gave no client", kGetClient);
    return client;
}

void CNetworkService::FreeRemoteEndpointControlClient(IRemoteEndpointControlClient* client)
{
    if (!m_library.IsLoaded())
        return;
    if (const auto release = m_library.FindAs<FreeIRemoteEndpointControlClientFn>(kFreeClient))
        release(client);
}
