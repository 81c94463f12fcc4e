#include "telemetry/TrackingRecord.h"

#include "host/Trace.h"
#include "message/CMessageObject.h"
#include "platform/Files.h"

#include <io.h>

TRACE_UNIT("9f83585c-9b10-4b9b-9117-2cc0ca503d01");

namespace
{

constexpr wchar_t kTrackIndex[] = L"TrackIndex";
constexpr wchar_t kCustomData[] = L"CustomData";
constexpr wchar_t kName[] = L"Name";
constexpr wchar_t kValue[] = L"Value";

} // namespace

DWORD ReadTrackingFile(const std::wstring& path, std::string& bytes)
{
    if (::_waccess(path.c_str(), 0) != 0)
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "tracking file %ls does not exist", path);
        return ERROR_FILE_NOT_FOUND;
    }
    // Shared for reading only: a file that its writer still holds open is not read half-written.
    if (const DWORD error = ReadWholeFile(path, bytes, FILE_SHARE_READ); error != ERROR_SUCCESS)
    {
        TRACE_ERROR(kTraceFlagEvents, 11, "cannot read tracking file %ls: error %u", path, error);
        return ERROR_READ_FAULT;
    }
    return ERROR_SUCCESS;
}

DWORD ParseTrackingRecord(const std::string& bytes, TrackingRecord& record)
{
    CMessageObject document;
    if (!document.FromUtf8Json(bytes))
    {
        TRACE_ERROR(kTraceFlagEvents, 16, "tracking file is not JSON (%zu bytes)", bytes.size());
        return ERROR_INVALID_DATA;
    }
    TrackingRecord parsed;
    if (!document.GetString(kTrackIndex, parsed.trackIndex))
    {
        TRACE_ERROR(kTraceFlagEvents, 17, "tracking file has no text %ls", kTrackIndex);
        return ERROR_INVALID_INDEX;
    }
    const CMessageObject* custom = nullptr;
    if (document.GetArray(kCustomData, custom))
    {
        for (const CMessageItem& element : custom->Items())
        {
            if (element.m_type != Object || element.m_value.object == nullptr || element.m_value.object->IsArray())
                continue;
            std::wstring name;
            std::wstring value;
            if (element.m_value.object->GetString(kName, name) && element.m_value.object->GetString(kValue, value) &&
                !name.empty() && !value.empty())
                parsed.customPairs.emplace_back(std::move(name), std::move(value));
        }
    }
    record = std::move(parsed);
    return ERROR_SUCCESS;
}

DWORD ReadTrackingRecord(const std::wstring& path, TrackingRecord& record)
{
    std::string bytes;
    const DWORD result = ReadTrackingFile(path, bytes);
    if (result != ERROR_SUCCESS)
        return result;
    return ParseTrackingRecord(bytes, record);
}
