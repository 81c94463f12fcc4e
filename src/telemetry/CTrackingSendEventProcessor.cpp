#include "telemetry/CTrackingSendEventProcessor.h"

#include "host/Trace.h"

TRACE_UNIT("ce41f26c-bd3b-4384-ba4f-2ac2c574080e");

CTrackingSendEventProcessor::CTrackingSendEventProcessor(IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper)
    : m_configUtil(configUtil), m_dispatcherHelper(dispatcherHelper)
{
}

DWORD CTrackingSendEventProcessor::Process(CMessageObject*)
{
    TRACE_ERROR(kTraceFlagEvents, 10, "TrackingSend is not implemented yet");
    return ERROR_CALL_NOT_IMPLEMENTED;
}
