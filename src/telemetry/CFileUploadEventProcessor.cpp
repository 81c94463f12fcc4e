#include "telemetry/CFileUploadEventProcessor.h"

#include "host/Trace.h"

TRACE_UNIT("4f820cc7-b834-404e-b215-9f527453aaee");

CFileUploadEventProcessor::CFileUploadEventProcessor(IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper)
    : m_configUtil(configUtil), m_dispatcherHelper(dispatcherHelper)
{
}

DWORD CFileUploadEventProcessor::Process(CMessageObject*)
{
    TRACE_ERROR(kTraceFlagEvents, 10, "FileUpload is not implemented yet");
    return ERROR_CALL_NOT_IMPLEMENTED;
}
