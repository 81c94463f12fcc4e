#pragma once
// The "PluginExecute" event. Not built yet: Process answers ERROR_CALL_NOT_IMPLEMENTED.

#include "host/IConfigUtil.h"
#include "host/IDispatcherHelper.h"
#include "host/ILogService.h"
#include "telemetry/ITelemetryEventProcessor.h"

class CPluginExecuteEventProcessor : public ITelemetryEventProcessor
{
public:
    CPluginExecuteEventProcessor(IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper, ILogService* logService);
    [[nodiscard]] DWORD Process(CMessageObject* payload) override;

private:
    IConfigUtil* m_configUtil;
    IDispatcherHelper* m_dispatcherHelper;
    ILogService* m_logService;
};
