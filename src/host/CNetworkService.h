#pragma once
// The network service component (Fenrik.dll in the folder given, the utilities folder). Its library is loaded
// by Load() and stays loaded for the wrapper's lifetime; a client obtained here is given back through
// FreeRemoteEndpointControlClient.

#include "host/CLoader.h"
#include "host/ComponentExports.h"

#include <string>

class CNetworkService : private CComponentLibrary
{
public:
    explicit CNetworkService(const std::wstring& folder);
    using CComponentLibrary::Load;

    // Null without the library, its export or a client.
    IRemoteEndpointControlClient* GetRemoteEndpointControlClient();
    void FreeRemoteEndpointControlClient(IRemoteEndpointControlClient* client)
    {
        Call<FreeIRemoteEndpointControlClientFn>("FreeIRemoteEndpointControlClient", client);
    }
};
