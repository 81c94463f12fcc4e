// Every export of the components, handing out tokens (or small working objects) and counting calls.

#include "CStubComms.h"
#include "LoaderTestCounter.h"

#include "host/ComponentExports.h"
#include "host/IDispatchEvent.h"
#include "host/ILogService.h"

#define EXPORT extern "C" __declspec(dllexport)

namespace
{

int g_token;

template <typename T>
T* Token()
{
    return reinterpret_cast<T*>(&g_token);
}

CStubComms g_comms;

class CStubLog : public ILogService
{
public:
    void Write(DWORD, const wchar_t*) override { CountCall(L"LOADERTEST_LOG_WRITE"); }
} g_log;

class CStubDispatch : public IDispatchEvent
{
public:
    DWORD Send(const wchar_t*, bool) override { return ERROR_SUCCESS; }
} g_dispatch;

} // namespace

EXPORT int LoaderTestPresent()
{
    return 42;
}

EXPORT ICommsWrapper* GetICommsWrapper()
{
    CountCall(L"LOADERTEST_COMMS_GET");
    return &g_comms;
}

EXPORT void FreeICommsWrapper(ICommsWrapper** wrapper)
{
    CountCall(L"LOADERTEST_COMMS_FREE");
    *wrapper = nullptr;
}

EXPORT ILogService* GetILogService()
{
    CountCall(L"LOADERTEST_LOG_GET");
    return &g_log;
}

EXPORT void FreeILogService(ILogService** service)
{
    CountCall(L"LOADERTEST_LOG_FREE");
    *service = nullptr;
}

EXPORT IDispatchEvent* GetIDispatchEvent()
{
    return &g_dispatch;
}

EXPORT void FreeIDispatchEvent(IDispatchEvent** dispatcher)
{
    *dispatcher = nullptr;
}

EXPORT IDecompressor* GetCompression(DWORD kind)
{
    return kind == kArchiveZip ? Token<IDecompressor>() : nullptr;
}

EXPORT void FreeCompression(DWORD, IDecompressor** decompressor)
{
    CountCall(L"LOADERTEST_COMPRESSION_FREE");
    *decompressor = nullptr;
}

EXPORT IDiscoveryInterface* get_discovery_interface(DWORD* error)
{
    *error = ERROR_SUCCESS;
    return Token<IDiscoveryInterface>();
}

EXPORT IRepositoryManager* GetIRepositoryManager()
{
    return Token<IRepositoryManager>();
}

EXPORT void GetRepositoryManagerSupportedApiVersions(DWORD* lowest, DWORD* highest)
{
    *lowest = 1;
    *highest = 3;
}

EXPORT void FreeIRepositoryManager(IRepositoryManager*)
{
    CountCall(L"LOADERTEST_REPOSITORY_FREE");
}

EXPORT IHardware* GetIHardware()
{
    return Token<IHardware>();
}

EXPORT void FreeIHardware(IHardware** hardware)
{
    CountCall(L"LOADERTEST_HARDWARE_FREE");
    *hardware = nullptr;
}

EXPORT UINT_PTR GetAgentServiceProvidersList(UINT_PTR argument)
{
    return argument + 1;
}

EXPORT void FreeAgentServiceProvidersList(UINT_PTR, UINT_PTR)
{
    CountCall(L"LOADERTEST_PROVIDERS_FREE");
}

EXPORT IRemoteEndpointControlClient* GetIRemoteEndpointControlClient()
{
    return Token<IRemoteEndpointControlClient>();
}

EXPORT void FreeIRemoteEndpointControlClient(IRemoteEndpointControlClient*)
{
    CountCall(L"LOADERTEST_ENDPOINT_FREE");
}
