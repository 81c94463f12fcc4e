#include "host/TraceProvider.h"

#include "host/Trace.h"
#include "platform/CUniqueHandle.h"

#include <cstring>

TRACE_UNIT("0244800d-fde3-4e18-b4dd-b2a6c0af4fe2");

namespace trace
{
ProviderState g_state;
}

namespace
{

TraceMessageVaFn FindTraceMessage()
{
    const CModule advapi(::LoadLibraryW(L"advapi32.dll"));
    if (!advapi || ::GetProcAddress(advapi.Get(), "TraceMessage") == nullptr)
        return nullptr;
    // advapi32 stays loaded after the release: the module links it.
    return reinterpret_cast<TraceMessageVaFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(advapi.Get(), "TraceMessageVa")));
}

TraceApi g_api = WindowsTraceApi();
TraceMessageVaFn g_traceMessage = nullptr;
TRACEHANDLE g_registration = 0;
TRACE_GUID_REGISTRATION g_guids[] = {{&kTraceControlGuid, nullptr}};

void Disable()
{
    trace::g_state.flags.store(0, std::memory_order_relaxed);
    trace::g_state.level.store(0, std::memory_order_relaxed);
    trace::g_state.logger.store(0, std::memory_order_relaxed);
}

// The message as one event: its argument blocks as MOF fields, or copied into one block when there are more
// than fit in place.
void SendAsEvent(TRACEHANDLE logger, UCHAR level, const GUID* unit, ULONG number, va_list args)
{
    struct
    {
        EVENT_TRACE_HEADER header;
        MOF_FIELD fields[kTraceEventInPlaceBlocks];
    } event{};
    BYTE joined[kTraceEventMaxBytes];
    ULONG blocks = 0;
    std::size_t total = 0;
    while (const void* address = va_arg(args, const void*))
    {
        const std::size_t size = va_arg(args, std::size_t);
        if (size > kTraceEventMaxBytes - total)
            return;
        if (blocks < kTraceEventInPlaceBlocks)
        {
            event.fields[blocks].DataPtr = reinterpret_cast<std::uintptr_t>(address);
            event.fields[blocks].Length = static_cast<ULONG>(size);
        }
        std::memcpy(joined + total, address, size);
        total += size;
        ++blocks;
    }
    if (blocks > kTraceEventInPlaceBlocks)
    {
        event.fields[0] = MOF_FIELD{};
        event.fields[0].DataPtr = reinterpret_cast<std::uintptr_t>(joined);
        event.fields[0].Length = static_cast<ULONG>(total);
        blocks = 1;
    }
    event.header.Size = static_cast<USHORT>(sizeof(EVENT_TRACE_HEADER) + blocks * sizeof(MOF_FIELD));
    event.header.Flags = WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_MOF_PTR;
    event.header.Guid = *unit;
    event.header.Class.Type = EVENT_TRACE_TYPE_INFO;
    event.header.Class.Level = level;
    event.header.Class.Version = static_cast<USHORT>(number);
    g_api.traceEvent(logger, &event.header);
}

} // namespace

TraceApi WindowsTraceApi()
{
    return TraceApi{::RegisterTraceGuidsW, ::UnregisterTraceGuids, ::GetTraceLoggerHandle,
                    ::GetTraceEnableLevel,  ::GetTraceEnableFlags,   ::TraceEvent,
                    FindTraceMessage};
}

TraceApi SetTraceApi(const TraceApi& api)
{
    const TraceApi previous = g_api;
    g_api = api;
    return previous;
}

void trace::Send(UCHAR level, const GUID* unit, ULONG number, ...)
{
    const TRACEHANDLE logger = g_state.logger.load(std::memory_order_relaxed);
    va_list args;
    va_start(args, number);
    if (g_traceMessage != nullptr)
        g_traceMessage(logger, kTraceMessageFlags, unit, static_cast<USHORT>(number), args);
    else
        SendAsEvent(logger, level, unit, number, args);
    va_end(args);
}

ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE request, PVOID, ULONG*, PVOID buffer)
{
    switch (request)
    {
    case WMI_ENABLE_EVENTS:
    {
        const TRACEHANDLE logger = g_api.getTraceLoggerHandle(buffer);
        const UCHAR level = g_api.getTraceEnableLevel(logger);
        const ULONG flags = g_api.getTraceEnableFlags(logger);
        trace::g_state.logger.store(logger, std::memory_order_relaxed);
        trace::g_state.level.store(level, std::memory_order_relaxed);
        trace::g_state.flags.store(flags, std::memory_order_relaxed);
        return ERROR_SUCCESS;
    }
    case WMI_DISABLE_EVENTS:
        Disable();
        return ERROR_SUCCESS;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

BOOL TraceProviderStart(HMODULE module)
{
    g_traceMessage = g_api.findTraceMessage();
    if (g_api.registerTraceGuids(TraceControlCallback, nullptr, &kTraceControlGuid, 1, g_guids, nullptr, nullptr,
                                 &g_registration) != ERROR_SUCCESS)
        g_registration = 0;
    TRACE_VERBOSE(kTraceFlagGeneral, 10, "trace provider started for module %p", module);
    return TRUE;
}

void TraceProviderStop(HMODULE module)
{
    TRACE_VERBOSE(kTraceFlagGeneral, 11, "trace provider stopping for module %p", module);
    if (g_registration != 0)
        g_api.unregisterTraceGuids(g_registration);
    g_registration = 0;
    // Once unregistered no session can disable us any more.
    Disable();
}
