#pragma once
// The module's trace provider: registered from load to unload, enabled and disabled by trace sessions
// outside the process through the control callback.
//
// Sessions enable it under kTraceControlGuid. Under Wine no session ever does, so the Windows calls sit
// behind TraceApi, which a test or the development host replaces to drive the callback and to see exactly
// what would have been sent.

#include "platform/Win.h"

#include <evntrace.h>

#include <cstdarg>

// {25cc5565-a37b-4608-9bc9-339cce037508}
constexpr GUID kTraceControlGuid = {0x25cc5565, 0xa37b, 0x4608, {0x9b, 0xc9, 0x33, 0x9c, 0xce, 0x03, 0x75, 0x08}};

// The message flags of every message: sequence number, message GUID, time stamp, system information.
constexpr ULONG kTraceMessageFlags = TRACE_MESSAGE_SEQUENCE | TRACE_MESSAGE_GUID | TRACE_MESSAGE_TIMESTAMP |
                                     TRACE_MESSAGE_SYSTEMINFO;

// When TraceMessage is missing, messages go out through TraceEvent: at most this many argument blocks in
// place, more are copied into one; a message with more argument bytes than kTraceEventMaxBytes is dropped.
constexpr ULONG kTraceEventInPlaceBlocks = 8;
constexpr ULONG kTraceEventMaxBytes = 8192;

// TraceMessageVa is a WINAPI function, though mingw's header declares it without.
using TraceMessageVaFn = ULONG(WINAPI*)(TRACEHANDLE logger, ULONG flags, LPCGUID unit, USHORT number, va_list args);

struct TraceApi
{
    ULONG(WINAPI* registerTraceGuids)(WMIDPREQUEST callback, PVOID context, LPCGUID control, ULONG count,
                                      PTRACE_GUID_REGISTRATION guids, LPCWSTR mofPath, LPCWSTR mofResource,
                                      PTRACEHANDLE registration);
    ULONG(WINAPI* unregisterTraceGuids)(TRACEHANDLE registration);
    TRACEHANDLE(WINAPI* getTraceLoggerHandle)(PVOID buffer);
    UCHAR(WINAPI* getTraceEnableLevel)(TRACEHANDLE logger);
    ULONG(WINAPI* getTraceEnableFlags)(TRACEHANDLE logger);
    ULONG(WINAPI* traceEvent)(TRACEHANDLE logger, PEVENT_TRACE_HEADER event);
    // TraceMessageVa when advapi32 also exports TraceMessage, else null (then traceEvent carries messages).
    TraceMessageVaFn (*findTraceMessage)();
};

// advapi32's functions.
TraceApi WindowsTraceApi();
// Replaces the functions in use and returns the previous set. Not for use while the provider is registered.
TraceApi SetTraceApi(const TraceApi& api);

// Process attach: look up TraceMessage, register, trace the start. Always succeeds: a module that cannot trace
// still works.
BOOL TraceProviderStart(HMODULE module);
// Process detach: trace the stop, unregister; later trace points send nothing.
void TraceProviderStop(HMODULE module);

// The control callback given to RegisterTraceGuidsW.
ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE request, PVOID context, ULONG* reserved, PVOID buffer);
