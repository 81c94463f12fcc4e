#pragma once
// The "TrackingSend" event. Not built yet: Process answers ERROR_CALL_NOT_IMPLEMENTED.

#include "host/IConfigUtil.h"
#include "host/IDispatcherHelper.h"
#include "host/ILogService.h"
#include "telemetry/ITelemetryEventProcessor.h"

class CTrackingSendEventProcessor : public ITelemetryEventProcessor
{
public:
    CTrackingSendEventProcessor(IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper);
    DWORD Process(CMessageObject* payload) override;

private:
    IConfigUtil* m_configUtil;
    IDispatcherHelper* m_dispatcherHelper;
};
