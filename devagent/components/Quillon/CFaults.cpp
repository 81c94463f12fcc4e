#include "CFaults.h"

#include "message/CMessageObject.h"
#include "platform/Files.h"
#include "platform/ModuleFolder.h"

#include <winhttp.h>

#include <cstdint>
#include <cwchar>
#include <mutex>
#include <new>
#include <string>

namespace
{

constexpr wchar_t kNoInterface[] = L"Quillon.Fault.NoInterface";
constexpr wchar_t kRefuseRequest[] = L"Quillon.Fault.RefuseRequest";
constexpr wchar_t kRefuseTrackingRequest[] = L"Quillon.Fault.RefuseTrackingRequest";
constexpr wchar_t kRefuseDataServiceClient[] = L"Quillon.Fault.RefuseDataServiceClient";
constexpr wchar_t kFailSplitUrl[] = L"Quillon.Fault.FailSplitUrl";
constexpr wchar_t kFailSend[] = L"Quillon.Fault.FailSend";
constexpr wchar_t kDelayMs[] = L"Quillon.Fault.DelayMs";

constexpr DWORD kMaxDelayMs = 60 * 1000;

std::wstring ConfigPath()
{
    const std::wstring folder = ThisModuleFolder();
    return folder.empty() ? std::wstring() : folder + L"config.json";
}

// The file as last read; re-read when its time or size changes. No file means no faults.
class CFaultFile
{
public:
    // The value of key: a number, or 1 for true; 0 when absent, false, or of another type.
    std::uint64_t Value(const wchar_t* key)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Refresh();
        const CMessageItem* item = nullptr;
        if (!m_values.FindItem(key, item))
            return 0;
        if (item->m_type == Boolean)
            return item->m_value.boolean ? 1 : 0;
        if (item->m_type == Integer)
            return item->m_unsigned || item->m_value.i64 >= 0 ? item->m_value.u64 : 0;
        if (item->m_type == String)
        {
            if (item->m_string == L"true")
                return 1;
            return std::wcstoull(item->m_string.c_str(), nullptr, 10);
        }
        return 0;
    }

private:
    void Refresh()
    {
        if (m_path.empty())
            m_path = ConfigPath();
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (m_path.empty() || !::GetFileAttributesExW(m_path.c_str(), GetFileExInfoStandard, &data))
        {
            m_values = CMessageObject();
            m_present = false;
            return;
        }
        if (m_present && ::CompareFileTime(&data.ftLastWriteTime, &m_stamp) == 0 &&
            data.nFileSizeLow == m_sizeLow && data.nFileSizeHigh == m_sizeHigh)
            return;
        m_values = CMessageObject();
        m_present = true;
        m_stamp = data.ftLastWriteTime;
        m_sizeLow = data.nFileSizeLow;
        m_sizeHigh = data.nFileSizeHigh;
        std::string text;
        if (ReadWholeFile(m_path, text, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) != ERROR_SUCCESS)
        {
            m_present = false;   // try again next time: a writer may be replacing it
            return;
        }
        static_cast<void>(m_values.FromUtf8Json(text));   // a broken file keeps the faults read before
    }

    std::mutex m_mutex;
    std::wstring m_path;
    CMessageObject m_values;
    bool m_present = false;
    FILETIME m_stamp{};
    DWORD m_sizeLow = 0;
    DWORD m_sizeHigh = 0;
};

// Built while the library loads: a function-local static would take the threads library's once-lock,
// which leaves a thread handle and an event behind for every load.
CFaultFile g_faultFile;

std::uint64_t Value(const wchar_t* key) noexcept
{
    try
    {
        return g_faultFile.Value(key);
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
}

} // namespace

namespace faults
{

bool NoInterface() { return Value(kNoInterface) != 0; }
bool RefuseRequest() { return Value(kRefuseRequest) != 0; }
bool RefuseTrackingRequest() { return Value(kRefuseTrackingRequest) != 0; }
bool RefuseDataServiceClient() { return Value(kRefuseDataServiceClient) != 0; }
bool FailSplitUrl() { return Value(kFailSplitUrl) != 0; }

DWORD SendError()
{
    const std::uint64_t value = Value(kFailSend);
    if (value == 0)
        return ERROR_SUCCESS;
    // true (or 1) asks for "the server cannot be reached"; a larger number is the error itself.
    return value == 1 || value > 0xFFFFFFFFull ? static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT)
                                               : static_cast<DWORD>(value);
}

void DelayExchange()
{
    const std::uint64_t value = Value(kDelayMs);
    if (value != 0)
        ::Sleep(static_cast<DWORD>(value < kMaxDelayMs ? value : kMaxDelayMs));
}

} // namespace faults
