#pragma once
// The "TrackingSend" event: the payload's "Filename" names a tracking file (TrackingRecord.h); its hit goes
// to the platform through the communications component as one tracking request, with the agent's identity,
// its environment parameters (TrackingHit.h) and the file's pairs. Once the request was sent, successfully or
// not, the file is deleted unless the agent is in test mode (bit 0 of "Register.Agent.TestMode"); a file that
// could not be read, or whose hit could not be built, stays.
//
// Results: ERROR_SUCCESS sent; ERROR_INVALID_DATA no payload or the file is not JSON; ERROR_INVALID_NAME no
// "Filename"; ERROR_FILE_NOT_FOUND no such file; ERROR_READ_FAULT unreadable file; ERROR_INVALID_INDEX no
// "TrackIndex" text; ERROR_DLL_INIT_FAILED no communications component; ERROR_NOT_ENOUGH_MEMORY no request,
// component interface or tracking request; ERROR_REQUEST_REFUSED the send failed. The communications and
// system information components are used for the one hit and given back on every path. Events run in
// parallel; the processor keeps no state.

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
    [[nodiscard]] DWORD Process(CMessageObject* payload) override;

private:
    // sent: Send was called, whatever it answered.
    [[nodiscard]] DWORD SendHit(const TrackingRecord& record, bool& sent);
    [[nodiscard]] bool InTestMode() const;

    IConfigUtil* m_configUtil;
    IDispatcherHelper* m_dispatcherHelper;
    IComponentAccess& m_components;
};
