// Every export of the components, handing out tokens (or small working objects) and counting calls in the
// process environment, so that a test can still read the counts after the library has been unloaded.

#include "CStubComms.h"

#include "host/ComponentExports.h"
#include "host/IDispatchEvent.h"
#include "host/ILogService.h"

#include <cwchar>
#include <string>

#define EXPORT extern "C" __declspec(dllexport)

namespace
{

void CountCall(const wchar_t* counter)
{
    const std::wstring name = L"LOADERTEST_" + std::wstring(counter);
    wchar_t value[16] = {};
    const DWORD length = ::GetEnvironmentVariableW(name.c_str(), value, 16);
    const unsigned long count = length > 0 && length < 16 ? std::wcstoul(value, nullptr, 10) : 0;
    ::SetEnvironmentVariableW(name.c_str(), std::to_wstring(count + 1).c_str());
}

int g_token;
CStubComms g_comms;

template <typename T>
T* Token()
{
    return reinterpret_cast<T*>(&g_token);
}

struct CStubLog : ILogService
{
    void Write(DWORD, const wchar_t*) override { CountCall(L"LOG_WRITE"); }
} g_log;

struct CStubDispatch : IDispatchEvent
{
    DWORD Send(const wchar_t*, bool) override { return ERROR_SUCCESS; }
} g_dispatch;

} // namespace

EXPORT int LoaderTestPresent() { return 42; }

EXPORT ICommsWrapper* GetICommsWrapper() { return &g_comms; }
EXPORT void FreeICommsWrapper(ICommsWrapper** wrapper) { CountCall(L"COMMS_FREE"); *wrapper = nullptr; }
EXPORT ILogService* GetILogService() { return &g_log; }
EXPORT void FreeILogService(ILogService** service) { CountCall(L"LOG_FREE"); *service = nullptr; }
EXPORT IDispatchEvent* GetIDispatchEvent() { return &g_dispatch; }
EXPORT void FreeIDispatchEvent(IDispatchEvent** dispatcher) { *dispatcher = nullptr; }
EXPORT IDecompressor* GetCompression(DWORD kind) { return kind == kArchiveZip ? Token<IDecompressor>() : nullptr; }
EXPORT void FreeCompression(DWORD, IDecompressor** freed) { CountCall(L"COMPRESSION_FREE"); *freed = nullptr; }
EXPORT IDiscoveryInterface* get_discovery_interface(DWORD* error)
{
    *error = ERROR_SUCCESS;
    return Token<IDiscoveryInterface>();
}

EXPORT IRepositoryManager* GetIRepositoryManager() { return Token<IRepositoryManager>(); }
EXPORT void GetRepositoryManagerSupportedApiVersions(DWORD* lowest, DWORD* highest) { *lowest = 1; *highest = 3; }
EXPORT void FreeIRepositoryManager(IRepositoryManager*) { CountCall(L"REPOSITORY_FREE"); }
EXPORT IHardware* GetIHardware() { return Token<IHardware>(); }
EXPORT void FreeIHardware(IHardware** hardware) { CountCall(L"HARDWARE_FREE"); *hardware = nullptr; }
EXPORT UINT_PTR GetAgentServiceProvidersList(UINT_PTR argument) { return argument + 1; }
EXPORT void FreeAgentServiceProvidersList(UINT_PTR, UINT_PTR) { CountCall(L"PROVIDERS_FREE"); }
EXPORT IRemoteEndpointControlClient* GetIRemoteEndpointControlClient() { return Token<IRemoteEndpointControlClient>(); }
EXPORT void FreeIRemoteEndpointControlClient(IRemoteEndpointControlClient*) { CountCall(L"ENDPOINT_FREE"); }
