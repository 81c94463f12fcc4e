#pragma once
// The "FileUpload" event. Not built yet: Process answers ERROR_CALL_NOT_IMPLEMENTED.

#include "host/IConfigUtil.h"
#include "host/IDispatcherHelper.h"
#include "host/ILogService.h"
#include "telemetry/ITelemetryEventProcessor.h"

class CFileUploadEventProcessor : public ITelemetryEventProcessor
{
public:
    CFileUploadEventProcessor(IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper);
    [[nodiscard]] DWORD Process(CMessageObject* payload) override;

private:
    IConfigUtil* m_configUtil;
    IDispatcherHelper* m_dispatcherHelper;
};
