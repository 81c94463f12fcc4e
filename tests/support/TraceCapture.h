#pragma once
// Stands in for the trace session and for advapi32's trace functions while it lives, so that a test sees
// exactly what its code would have handed to TraceMessage (or TraceEvent).
//
//     CTraceCapture capture;                       // provider started, no session yet
//     capture.Enable(kTraceLevelError, kTraceFlagEvents);
//     ... code under test ...
//     EXPECT_TRUE(capture.Has(kUnit, 12));

#include "host/Trace.h"
#include "host/TraceProvider.h"

#include <cstdint>
#include <string>
#include <vector>

struct CapturedTrace
{
    TRACEHANDLE logger = 0;
    ULONG messageFlags = 0;   // TraceMessage only
    GUID unit{};
    ULONG number = 0;
    std::vector<std::vector<BYTE>> args;   // TraceMessage: one per argument; TraceEvent: one per MOF field
    EVENT_TRACE_HEADER header{};           // TraceEvent only

    std::wstring Wide(std::size_t i) const;   // without the terminator
    std::string Narrow(std::size_t i) const;
    std::uint64_t Number(std::size_t i) const;
};

class CTraceCapture
{
public:
    enum class Route { TraceMessage, TraceEvent /* as where advapi32 has no TraceMessage */ };

    // A session already enabled at `level` and `flags` is present when the provider registers; level 0 means none.
    explicit CTraceCapture(Route route = Route::TraceMessage, UCHAR level = 0, ULONG flags = 0,
                           HMODULE module = nullptr);
    ~CTraceCapture();
    CTraceCapture(const CTraceCapture&) = delete;
    CTraceCapture& operator=(const CTraceCapture&) = delete;

    // A session enables or disables the provider through its control callback; returns the callback's answer.
    ULONG Enable(UCHAR level, ULONG flags);
    ULONG Disable();
    ULONG Request(WMIDPREQUESTCODE code);

    void Stop();   // stops the provider before the destructor does

    const std::vector<CapturedTrace>& Messages() const;
    std::size_t Count(const GUID& unit, ULONG number) const;   // of that unit's trace point number
    bool Has(const GUID& unit, ULONG number) const { return Count(unit, number) != 0; }
    void Clear();

    // What registration saw.
    const GUID& RegisteredControl() const;
    int Registrations() const;
    int Unregistrations() const;

private:
    TraceApi m_previous;
    HMODULE m_module;
    bool m_stopped = false;
};
