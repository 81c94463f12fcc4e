#pragma once
// The "FileUpload" event: the file named by "Filename" goes to the platform's file-upload data service
// ("Service_TelemetryFileUpload") with its status and metadata as "x-korvo-metadata-*" headers. A failed upload
// is tried again through the agent's scheduler: the same event, "RetryCount" one higher, as the one-shot task
// "RetryFileUpload_" + "OperationId", while fewer than three attempts were made; the count never wraps (a count
// of 4294967295 ends the chain). Once no retry follows, the file is deleted unless "KeepFile" is true or the
// agent is in test mode (bit 0 of "Register.Agent.TestMode").
//
// Results: ERROR_SUCCESS uploaded; ERROR_INVALID_DATA no payload (the file untouched); ERROR_INVALID_NAME no
// "Filename"; ERROR_FILE_NOT_FOUND no such file; ERROR_NOT_ENOUGH_MEMORY no data-services dispatcher (no
// retry); ERROR_REQ_NOT_ACCEP the service refused or could not be reached, whether or not a retry follows.
// The host runs one FileUpload at a time; the processor keeps no state between events.

#include "host/IComponentAccess.h"
#include "host/IConfigUtil.h"
#include "host/IDispatcherHelper.h"
#include "telemetry/ITelemetryEventProcessor.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// What one event asks for; a field missing or of another type keeps its default.
struct UploadRecord
{
    std::wstring filePath;
    std::int32_t statusCode = 0;
    std::wstring statusDescription;
    std::vector<std::pair<std::wstring, std::wstring>> metadata; // in array order
    std::wstring contentType;
    std::wstring operationId;
    std::wstring owner;
    std::uint32_t retryCount = 0;
    bool keepFile = false;
};

[[nodiscard]] UploadRecord ReadUploadRecord(const CMessageObject& payload);

class CFileUploadEventProcessor : public ITelemetryEventProcessor
{
public:
    // A null configUtil takes the module's; without one, std::logic_error("configUtil is nullptr"). A null
    // dispatcherHelper throws std::logic_error("dispatcherHelper is nullptr"). Null components take the
    // installed ones; given ones must outlive the processor.
    CFileUploadEventProcessor(IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper,
                              IComponentAccess* components = nullptr);
    [[nodiscard]] DWORD Process(CMessageObject* payload) override;

private:
    // failed: the service was asked and said no; a retry may follow.
    [[nodiscard]] DWORD Upload(const UploadRecord& record, bool& failed);
    void ScheduleRetry(const CMessageObject& payload, const UploadRecord& record, std::uint32_t retryCount);
    void RemoveFile(const UploadRecord& record) const;

    IConfigUtil* m_configUtil;
    IDispatcherHelper* m_dispatcherHelper;
    IComponentAccess& m_components;
};
