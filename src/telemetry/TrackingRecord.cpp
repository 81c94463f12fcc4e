#include "telemetry/TrackingRecord.h"

#include "host/Trace.h"
#include "message/CMessageObject.h"
#include "platform/Files.h"

TRACE_UNIT("9f83585c-9b10-4b9b-9117-2cc0ca503d01");

namespace
{

constexpr wchar_t kTrackIndex[] = L"TrackIndex";
constexpr wchar_t kCustomData[] = L"CustomData";
constexpr wchar_t kName[] = L"Name";
constexpr wchar_t kValue[] = L"Value";

} // namespace

DWORD CTrackingFile::Read(const std::wstring& path, std::string& bytes)
{
    const auto open = [&](DWORD access, DWORD flags) {
        m_file.Reset(); // a handle from a first try would refuse to share with the second
        // Shared for reading only: a file that its writer still holds open is not read half-written.
        m_file.Reset(::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr));
        return m_file ? ERROR_SUCCESS : ::GetLastError();
    };
    m_path = path;
    // The name itself is opened first: through a link, the handle would delete the file the link names.
    DWORD opened = open(GENERIC_READ | DELETE, FILE_FLAG_OPEN_REPARSE_POINT);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    m_deletable = opened == ERROR_SUCCESS &&
                  ::GetFileInformationByHandleEx(m_file.Get(), FileAttributeTagInfo, &tag, sizeof tag) &&
                  (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    // A link, or a file that can be read but not deleted now (read-only, or another reader does not share
    // deletion), is read through and sent; its removal is tried by name at the end.
    if (!m_deletable && (opened == ERROR_SUCCESS || opened == ERROR_ACCESS_DENIED || opened == ERROR_SHARING_VIOLATION))
        opened = open(GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
    const DWORD error = opened == ERROR_SUCCESS ? ReadWholeOpenFile(m_file.Get(), bytes) : opened;
    if (error == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    m_file.Reset();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME)
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "tracking file %ls does not exist", path);
        return ERROR_FILE_NOT_FOUND;
    }
    TRACE_ERROR(kTraceFlagEvents, 11, "cannot read tracking file %ls: error %u", path, error);
    return ERROR_READ_FAULT;
}

DWORD CTrackingFile::Remove()
{
    if (!m_deletable)
    {
        m_file.Reset();
        return ::DeleteFileW(m_path.c_str()) ? ERROR_SUCCESS : ::GetLastError();
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    const DWORD error =
        ::SetFileInformationByHandle(m_file.Get(), FileDispositionInfo, &disposition, sizeof disposition)
            ? ERROR_SUCCESS
            : ::GetLastError();
    m_file.Reset(); // the file goes with the handle
    return error;
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

DWORD ReadTrackingRecord(const std::wstring& path, CTrackingFile& file, TrackingRecord& record)
{
    std::string bytes;
    const DWORD result = file.Read(path, bytes);
    if (result != ERROR_SUCCESS)
        return result;
    return ParseTrackingRecord(bytes, record);
}
