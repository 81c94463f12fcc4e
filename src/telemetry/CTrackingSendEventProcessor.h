#pragma once
// The "TrackingSend" event: the payload's "Filename" names a tracking file (TrackingRecord.h); its hit goes
// to the platform through the communications component as one tracking request, with the agent's identity,
// its environment parameters (TrackingHit.h) and the file's pairs. Once the request was sent, successfully or
// not, the file is deleted unless the agent is in test mode (bit 0 of "Register.Agent.TestMode"); a file that
// could not be read, or whose hit could not be built, stays.
//
// Results: 0 sent; 13 no payload or the file is not JSON; 123 no "Filename"; 2 no such file; 30 unreadable
// file; 1413 no "TrackIndex" text; 1114 no communications component; 8 no request, component interface or
// tracking request; 4320 the send failed. The communications and system information components are
// used for the one hit and given back on every path. Events run in parallel; the processor keeps no state.

#include "host/IComponentAccess.h"
#include "host/IConfigUtil.h"
#include "host/IDispatcherHelper.h"
#include "telemetry/ITelemetryEventProcessor.h"

struct TrackingRecord;

class CTrackingSendEventProcessor : public ITelemetryEventProcessor
{
public:
    // A null configUtil takes the module's; without one, std::logic_error("configUtil is nullptr"). A null
    // dispatcherHelper throws std::logic_error("dispatcherHelper is nullptr"). Null components take the
    // installed ones; given ones must outlive the processor.
    CTrackingSendEventProcessor(IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper,
                                IComponentAccess* components = nullptr);
    DWORD Process(CMessageObject* payload) override;

private:
    // sent: Send was called, whatever it answered.
    DWORD SendHit(const TrackingRecord& record, bool& sent);
    bool InTestMode() const;

    IConfigUtil* m_configUtil;
    IDispatcherHelper* m_dispatcherHelper;
    IComponentAccess& m_components;
};
