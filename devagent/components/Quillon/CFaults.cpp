#include "CFaults.h"

#include "CComponentSettings.h"

#include <winhttp.h>

#include <cstdint>
#include <new>
#include <string>

namespace
{

constexpr wchar_t kNoInterface[] = L"Quillon.Fault.NoInterface";
constexpr wchar_t kRefuseRequest[] = L"Quillon.Fault.RefuseRequest";
constexpr wchar_t kRefuseTrackingRequest[] = L"Quillon.Fault.RefuseTrackingRequest";
constexpr wchar_t kRefuseDataServiceClient[] = L"Quillon.Fault.RefuseDataServiceClient";
constexpr wchar_t kFailSplitUrl[] = L"Quillon.Fault.FailSplitUrl";
constexpr wchar_t kFailSend[] = L"Quillon.Fault.FailSend";
constexpr wchar_t kDelayMs[] = L"Quillon.Fault.DelayMs";

constexpr DWORD kMaxDelayMs = 60 * 1000;

// At namespace scope, built while the library loads (why: src/host/ModuleComponents.h).
CComponentSettings g_settings;

std::uint64_t Value(const wchar_t* key) noexcept
{
    try
    {
        return g_settings.Number(key);
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
}

} // namespace

namespace faults
{

bool NoInterface() { return Value(kNoInterface) != 0; }
bool RefuseRequest() { return Value(kRefuseRequest) != 0; }
bool RefuseTrackingRequest() { return Value(kRefuseTrackingRequest) != 0; }
bool RefuseDataServiceClient() { return Value(kRefuseDataServiceClient) != 0; }
bool FailSplitUrl() { return Value(kFailSplitUrl) != 0; }

DWORD SendError()
{
    const std::uint64_t value = Value(kFailSend);
    if (value == 0)
        return ERROR_SUCCESS;
    // true (or 1) asks for "the server cannot be reached"; a larger number is the error itself.
    return value == 1 || value > 0xFFFFFFFFull ? static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT)
                                               : static_cast<DWORD>(value);
}

void DelayExchange()
{
    const std::uint64_t value = Value(kDelayMs);
    if (value != 0)
        ::Sleep(static_cast<DWORD>(value < kMaxDelayMs ? value : kMaxDelayMs));
}

} // namespace faults
