#include "telemetry/CFileUploadEventProcessor.h"

#include "comms/CMessageDispatcher.h"
#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "message/CMessageObject.h"
#include "platform/TextUtil.h"
#include "scheduler/CSchedulerHelper.h"
#include "telemetry/ProcessorCollaborators.h"

#include <io.h>

#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

TRACE_UNIT("4f820cc7-b834-404e-b215-9f527453aaee");

namespace
{

constexpr wchar_t kFileUploadEvent[] = L"FileUpload";
constexpr wchar_t kFilename[] = L"Filename";
constexpr wchar_t kStatus[] = L"Status";
constexpr wchar_t kCode[] = L"Code";
constexpr wchar_t kDescription[] = L"Description";
constexpr wchar_t kMetadata[] = L"Metadata";
constexpr wchar_t kContentType[] = L"ContentType";
constexpr wchar_t kOperationId[] = L"OperationId";
constexpr wchar_t kOwner[] = L"Owner";
constexpr wchar_t kRetryCount[] = L"RetryCount";
constexpr wchar_t kKeepFile[] = L"KeepFile";

constexpr wchar_t kUploadService[] = L"Service_TelemetryFileUpload";
constexpr wchar_t kHeaderPrefix[] = L"x-korvo-metadata-";
constexpr wchar_t kStatusCodeHeader[] = L"x-korvo-metadata-status-code";
constexpr wchar_t kStatusDescriptionHeader[] = L"x-korvo-metadata-status-desc";
constexpr wchar_t kRetryTaskPrefix[] = L"RetryFileUpload_";
constexpr wchar_t kRetryOffset[] = L"300";
constexpr wchar_t kEventSource[] = L"CFileUploadEventProcessor::Process";
constexpr std::uint32_t kMaxAttempts = 3;

} // namespace

UploadRecord ReadUploadRecord(const CMessageObject& payload)
{
    UploadRecord record;
    payload.GetString(kFilename, record.filePath);
    if (const CMessageObject* status = ChildObject(payload, kStatus))
    {
        std::uint32_t code = 0;
        if (status->GetUInt32(kCode, code))
            record.statusCode = static_cast<std::int32_t>(code);
        status->GetString(kDescription, record.statusDescription);
    }
    record.metadata = ReadNameValuePairs(payload, kMetadata, false);
    payload.GetString(kContentType, record.contentType);
    payload.GetString(kOperationId, record.operationId);
    payload.GetString(kOwner, record.owner);
    payload.GetUInt32(kRetryCount, record.retryCount);
    payload.GetBool(kKeepFile, record.keepFile);
    return record;
}

CFileUploadEventProcessor::CFileUploadEventProcessor(IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper,
                                                     IComponentAccess* components)
    : m_configUtil(RequireConfigUtil(configUtil, kFileUploadEvent)),
      m_dispatcherHelper(RequireDispatcherHelper(dispatcherHelper, kFileUploadEvent)),
      m_components(ComponentsOrInstalled(components))
{
}

DWORD CFileUploadEventProcessor::Process(CMessageObject* payload)
{
    if (payload == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 13, "FileUpload without event data");
        return ERROR_INVALID_DATA;
    }
    const UploadRecord record = ReadUploadRecord(*payload);
    TRACE_VERBOSE(kTraceFlagEvents, 14, "FileUpload of %ls (operation %ls, attempt %u)", record.filePath,
                  record.operationId, record.retryCount);

    bool failed = false;
    const DWORD result = Upload(record, failed);
    if (failed)
    {
        // Saturating: a count at its limit ends the chain instead of starting it again at 0.
        const std::uint32_t next =
            record.retryCount == std::numeric_limits<std::uint32_t>::max() ? record.retryCount : record.retryCount + 1;
        if (next < kMaxAttempts)
        {
            ScheduleRetry(*payload, record, next);
            return result;
        }
        TRACE_ERROR(kTraceFlagEvents, 15, "upload of %ls failed %u times: no more attempts", record.filePath, next);
    }
    if (!record.filePath.empty())
        RemoveFile(record);
    return result;
}

DWORD CFileUploadEventProcessor::Upload(const UploadRecord& record, bool& failed)
{
    if (record.filePath.empty())
    {
        TRACE_ERROR(kTraceFlagEvents, 16, "FileUpload without %ls", kFilename);
        return ERROR_INVALID_NAME;
    }
    if (::_waccess(record.filePath.c_str(), 0) != 0)
    {
        TRACE_ERROR(kTraceFlagEvents, 17, "file to upload %ls does not exist", record.filePath);
        return ERROR_FILE_NOT_FOUND;
    }
    std::unique_ptr<CMessageDispatcher> dispatcher;
    try
    {
        dispatcher = std::make_unique<CMessageDispatcher>(m_configUtil, &m_components);
    }
    catch (const std::exception& e)
    {
        TRACE_ERROR(kTraceFlagEvents, 18, "no data-services dispatcher for %ls: %s", record.filePath, e.what());
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    // One value per name: a later pair replaces an earlier one, the status headers included.
    DataServiceHeaders headers;
    headers[kStatusCodeHeader] = Int32ToText(record.statusCode);
    if (!record.statusDescription.empty())
        headers[kStatusDescriptionHeader] = record.statusDescription;
    for (const auto& [name, value] : record.metadata)
        headers[kHeaderPrefix + name] = value;

    if (!dispatcher->UploadToDataContainer(kUploadService, record.filePath, record.contentType, record.operationId,
                                           record.owner, headers))
    {
        TRACE_ERROR(kTraceFlagEvents, 19, "upload of %ls refused or not delivered", record.filePath);
        failed = true;
        return ERROR_REQ_NOT_ACCEP;
    }
    TRACE_INFO(kTraceFlagEvents, 20, "%ls uploaded", record.filePath);
    return ERROR_SUCCESS;
}

void CFileUploadEventProcessor::ScheduleRetry(const CMessageObject& payload, const UploadRecord& record,
                                              std::uint32_t retryCount)
{
    const std::wstring scheduleId = kRetryTaskPrefix + record.operationId;
    // The same event again, with its attempt counted.
    CMessageObject event = payload;
    event.m_name = kFileUploadEvent;
    event.AddUInt32(kRetryCount, retryCount);
    CMessageObject task;
    task.AddObjectCopy(event);

    CSchedulerHelper scheduler(m_dispatcherHelper, m_configUtil);
    CMessageObject request;
    const DWORD added =
        scheduler.AddTask(request, task, kRetryOffset, std::wstring(), kEventSource, scheduleId, ScheduleInfo{});
    if (added != ERROR_SUCCESS)
    {
        TRACE_ERROR(kTraceFlagEvents, 21, "retry task %ls not built: error %u", scheduleId, added);
        return;
    }
    const DWORD sent = m_dispatcherHelper->SendObject(request, true);
    if (sent != ERROR_SUCCESS)
        TRACE_ERROR(kTraceFlagEvents, 22, "retry task %ls not sent: error %u", scheduleId, sent);
    else
        TRACE_INFO(kTraceFlagEvents, 23, "upload of %ls retried as %ls, attempt %u", record.filePath, scheduleId,
                   retryCount + 1);
}

void CFileUploadEventProcessor::RemoveFile(const UploadRecord& record) const
{
    int mode = 0;
    if (record.keepFile || (GetTestMode(mode, m_configUtil) && (mode & 1) != 0))
    {
        TRACE_INFO(kTraceFlagEvents, 24, "%ls stays (kept or test mode)", record.filePath);
        return;
    }
    if (!::DeleteFileW(record.filePath.c_str()))
    {
        const DWORD error = ::GetLastError();
        TRACE_ERROR(kTraceFlagEvents, 25, "cannot delete %ls: error %u", record.filePath, error);
    }
}
