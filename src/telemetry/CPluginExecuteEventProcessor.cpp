#include "telemetry/CPluginExecuteEventProcessor.h"

#include "host/Trace.h"

TRACE_UNIT("e70bc369-3db0-49c5-994d-7a06853b5eb3");

CPluginExecuteEventProcessor::CPluginExecuteEventProcessor(IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper,
                                                           ILogService* logService)
    : m_configUtil(configUtil), m_dispatcherHelper(dispatcherHelper), m_logService(logService)
{
}

DWORD CPluginExecuteEventProcessor::Process(CMessageObject*)
{
    TRACE_ERROR(kTraceFlagEvents, 10, "PluginExecute is not implemented yet");
    return ERROR_CALL_NOT_IMPLEMENTED;
}
