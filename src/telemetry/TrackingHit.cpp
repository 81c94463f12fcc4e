#include "telemetry/TrackingHit.h"

#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "platform/Registry.h"
#include "platform/TextUtil.h"
#include "platform/Uuid.h"

#include <cstdio>
#include <iterator>

TRACE_UNIT("ea8deac3-dd58-41a2-89ab-370aeccfd7e4");

namespace
{

constexpr wchar_t kMachineIdKey[] = L"SOFTWARE\\Korvo Software\\Setup\\UIDS";
constexpr wchar_t kSiteIdKey[] = L"Register.Register.SiteId";
constexpr wchar_t kDeviceIdKey[] = L"Register.Register.DeviceId";
constexpr wchar_t kRegionKey[] = L"Register.Register.Region";
constexpr wchar_t kUnknown[] = L"0";

// Read with every hit: kept open, as the agent's setup keys are (host/InstallLocations.h).
CHeldRegistryKey g_machineIdKey(kMachineIdKey);

// Empty when the value cannot be read.
std::wstring ConfigText(IConfigUtil* util, const wchar_t* key)
{
    std::wstring value;
    const DWORD result = ReadConfigValue(key, value, util);
    if (result != ERROR_SUCCESS)
    {
        TRACE_INFO(kTraceFlagEvents, 10, "no %ls for the tracking hit: error %u", key, result);
        value.clear();
    }
    return value;
}

// Empty unless UuidCreate gives plain success: a UUID that is only unique on this machine is no event id.
std::wstring NewEventId()
{
    std::wstring id;
    const RPC_STATUS status = NewUuidText(id, false);
    if (status != RPC_S_OK)
    {
        TRACE_ERROR(kTraceFlagEvents, 11, "no event id for the tracking hit: status %d", static_cast<int>(status));
        return {};
    }
    return id;
}

std::wstring LocalTime()
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    wchar_t text[32] = {};
    std::swprintf(text, std::size(text), L"%04d%02d%02d%02d%02d%02d", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

std::wstring BuildText(const OperatingSystemInfo& os)
{
    std::wstring text = std::to_wstring(os.buildNumber);
    if (os.updateBuildRevision != 0)
        text += L"." + std::to_wstring(os.updateBuildRevision);
    return text;
}

} // namespace

std::wstring EncodeQueryValue(const std::wstring& text)
{
    std::wstring encoded;
    if (!PercentEncode(text, encoded))
        TRACE_ERROR(kTraceFlagEvents, 20, "cannot convert %ls to UTF-8", text);
    return encoded;
}

std::array<std::wstring, 7> TrackingIdentity()
{
    std::wstring productId = kUnknown;
    std::wstring productVersion = kUnknown;
    DWORD id = 0;
    if (GetMainProductId(id))
    {
        productId = std::to_wstring(id);
        if (LegacySoftwareSetupKey().Text(L"Normal", productVersion) != ERROR_SUCCESS &&
            LegacySecuritySetupKey().Text(L"Normal", productVersion) != ERROR_SUCCESS)
            TRACE_INFO(kTraceFlagEvents, 13, "main product %u has no version", id);
    }
    else
    {
        TRACE_INFO(kTraceFlagEvents, 14, "no main product identifier");
    }
    std::wstring machineId = kUnknown;
    if (g_machineIdKey.Text(L"MUID", machineId) != ERROR_SUCCESS)
        TRACE_INFO(kTraceFlagEvents, 15, "no machine identifier");
    std::wstring agentVersion = kUnknown;
    if (AgentSetupKey().Text(L"Normal", agentVersion) != ERROR_SUCCESS)
        TRACE_INFO(kTraceFlagEvents, 16, "no agent version");
    return {productId, productVersion, kUnknown, machineId, kUnknown, L"1", agentVersion};
}

TrackingParameters EnvironmentParameters(IConfigUtil* util, const OperatingSystemInfo& os, bool portable)
{
    TrackingParameters parameters{
        {L"_oi", std::to_wstring(os.osCode)},
        {L"_ob", BuildText(os)},
        {L"_or", std::to_wstring(static_cast<int>(os.releaseId))},
        {L"_si", ConfigText(util, kSiteIdKey)},
        {L"_di", ConfigText(util, kDeviceIdKey)},
        {L"_ei", NewEventId()},
        {L"_lt", LocalTime()},
        {L"_p", std::to_wstring(os.editionCode)},
        {L"_os", os.isServer != 0 ? L"1" : L"0"},
        {L"_po", portable ? L"1" : L"0"},
    };
    std::wstring region = ConfigText(util, kRegionKey);
    if (!region.empty())
        parameters.emplace_back(L"_reg", std::move(region));
    return parameters;
}

bool ReadPortableFlag(IComponentAccess& components)
{
    CComponentUse<IHardware> hardware;
    if (!components.UseHardware(hardware))
    {
        TRACE_WARNING(kTraceFlagEvents, 17, "no system information component: _po is 0");
        return false;
    }
    if (!hardware)
    {
        TRACE_WARNING(kTraceFlagEvents, 18, "no hardware interface: _po is 0");
        return false;
    }
    HardwareDescription description;
    if (!hardware->GetDescription(description))
    {
        TRACE_WARNING(kTraceFlagEvents, 19, "no hardware description: _po is 0");
        return false;
    }
    return description.isPortable;
}
