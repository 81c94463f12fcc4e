#include "CJsonConfigUtil.h"

#include "message/CMessageObject.h"
#include "platform/Files.h"
#include "platform/TextUtil.h"

#include <cwchar>
#include <new>
#include <utility>

namespace
{

// The value of one member as the configuration gives it: strings as they are, anything else as its JSON text.
bool ValueText(const CMessageItem& item, std::wstring& out)
{
    if (item.m_type == String)
    {
        out = item.m_string;
        return true;
    }
    if (item.m_type == Null)
        return false;
    if (item.m_type == Object)
    {
        if (item.m_value.object == nullptr)
            return false;
        CMessageObject nested(*item.m_value.object);
        nested.m_name.clear();
        return nested.Serialize(out);
    }
    CMessageItem bare(item);
    bare.m_name.clear();
    return bare.Serialize(out);
}

// A leading byte-order mark is skipped by the JSON reader.
bool Parse(const std::string& text, std::map<std::wstring, std::wstring>& out)
{
    CMessageObject object;
    if (!object.FromUtf8Json(text) || object.IsArray())
        return false;
    std::map<std::wstring, std::wstring> values;
    for (const CMessageItem& item : object.Items())
    {
        std::wstring value;
        if (ValueText(item, value))
            values[item.m_name] = std::move(value);
    }
    out = std::move(values);
    return true;
}

// One member a line, so that a person can read and edit the file.
bool Format(const std::map<std::wstring, std::wstring>& values, std::string& out)
{
    std::wstring text = L"{";
    bool first = true;
    for (const auto& [key, value] : values)
    {
        std::wstring member;
        if (!CMessageItem(key, value).Serialize(member))
            return false;
        text += first ? L"\n  " : L",\n  ";
        text += member;
        first = false;
    }
    text += L"\n}\n";
    return WideToBytes(text, out, CP_UTF8);
}

// Nothing may unwind into the caller's module: its runtime is not ours.
template <typename F>
DWORD Guarded(F&& operation)
{
    try
    {
        return operation();
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    catch (...)
    {
        return ERROR_INTERNAL_ERROR;
    }
}

} // namespace

CJsonConfigUtil::CJsonConfigUtil(std::wstring path) : m_path(std::move(path)) {}

CJsonConfigUtil::FileState CJsonConfigUtil::ReadState() const
{
    FileState state;
    if (!::GetFileAttributesExW(m_path.c_str(), GetFileExInfoStandard, &state.data))
        state.error = ::GetLastError();
    return state;
}

void CJsonConfigUtil::RememberStamp()
{
    const FileState state = ReadState();
    m_present = state.error == ERROR_SUCCESS;
    m_stamp = m_present ? state.data.ftLastWriteTime : FILETIME{};
    m_size = m_present ? (static_cast<std::uint64_t>(state.data.nFileSizeHigh) << 32 | state.data.nFileSizeLow) : 0;
}

DWORD CJsonConfigUtil::Refresh(const FileState& state)
{
    if (state.error != ERROR_SUCCESS)
    {
        if (state.error != ERROR_FILE_NOT_FOUND && state.error != ERROR_PATH_NOT_FOUND)
            return state.error;
        m_values.clear();
        m_writable = true;
        m_loaded = true;
        m_present = false;
        return ERROR_SUCCESS;
    }
    const WIN32_FILE_ATTRIBUTE_DATA& data = state.data;
    const std::uint64_t size = static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    if (m_loaded && m_present && size == m_size && ::CompareFileTime(&data.ftLastWriteTime, &m_stamp) == 0)
        return ERROR_SUCCESS;
    std::string text;
    // Shared for delete too: a writer elsewhere may replace the file while it is read.
    if (const DWORD error = ReadWholeFile(m_path, text, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        error != ERROR_SUCCESS)
        return error;
    Values values;
    m_writable = Parse(text, values);
    m_values = std::move(values);
    m_loaded = true;
    m_present = true;
    m_stamp = data.ftLastWriteTime;
    m_size = size;
    return ERROR_SUCCESS;
}

bool CJsonConfigUtil::Find(const wchar_t* key, std::wstring& value)
{
    // The file is looked at before the mutex: readers on other threads wait for each other only while a value
    // is looked up or the file parsed again.
    const FileState state = ReadState();
    std::lock_guard<std::mutex> lock(m_mutex);
    Refresh(state);   // when the file cannot be read just now, what was read before stands
    const auto found = m_values.find(key);
    if (found == m_values.end())
        return false;
    value = found->second;
    return true;
}

DWORD CJsonConfigUtil::Store(Values values)
{
    std::string text;
    if (!Format(values, text))
        return ERROR_INVALID_DATA;
    const std::wstring aside = m_path + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    if (const DWORD error = WriteWholeFile(aside, text, kFileReplace | kFileFlush); error != ERROR_SUCCESS)
    {
        ::DeleteFileW(aside.c_str());
        return error;
    }
    if (!::MoveFileExW(aside.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(aside.c_str());
        return error;
    }
    m_values = std::move(values);
    m_loaded = true;
    RememberStamp();
    return ERROR_SUCCESS;
}

DWORD CJsonConfigUtil::QueryValue(const wchar_t* key, wchar_t** value, DWORD)
{
    if (key == nullptr || value == nullptr)
        return ERROR_INVALID_PARAMETER;
    *value = nullptr;
    return Guarded([&] {
        std::wstring text;
        if (!Find(key, text))
            return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        *value = new wchar_t[text.size() + 1];
        std::wmemcpy(*value, text.c_str(), text.size() + 1);
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
}

DWORD CJsonConfigUtil::GetValue(const wchar_t* key, std::wstring& value, DWORD)
{
    if (key == nullptr)
        return ERROR_INVALID_PARAMETER;
    return Guarded([&] { return static_cast<DWORD>(Find(key, value) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND); });
}

DWORD CJsonConfigUtil::QuerySectionValue(const wchar_t* section, const wchar_t* group, const wchar_t* key,
                                         wchar_t* buffer, DWORD* size, DWORD)
{
    if (section == nullptr || group == nullptr || key == nullptr || size == nullptr ||
        (buffer == nullptr && *size != 0))
        return ERROR_INVALID_PARAMETER;
    return Guarded([&] {
        std::wstring text;
        if (!Find((std::wstring(section) + L'.' + group + L'.' + key).c_str(), text))
            return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        const DWORD needed = static_cast<DWORD>(text.size() + 1);
        const bool fits = needed <= *size;
        if (fits)
            std::wmemcpy(buffer, text.c_str(), needed);
        *size = needed;
        return static_cast<DWORD>(fits ? ERROR_SUCCESS : ERROR_MORE_DATA);
    });
}

DWORD CJsonConfigUtil::Edit(const std::function<DWORD(Values&)>& change)
{
    return Guarded([&] {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Never write over a file that could not be read or does not parse.
        if (const DWORD error = Refresh(ReadState()); error != ERROR_SUCCESS)
            return error;
        if (!m_writable)
            return static_cast<DWORD>(ERROR_INVALID_DATA);
        Values values = m_values;
        if (const DWORD error = change(values); error != ERROR_SUCCESS)
            return error;
        return Store(std::move(values));
    });
}

DWORD CJsonConfigUtil::SetValue(const wchar_t* key, const wchar_t* value, DWORD)
{
    if (key == nullptr || value == nullptr)
        return ERROR_INVALID_PARAMETER;
    return Edit([&](Values& values) {
        values[key] = value;
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
}

DWORD CJsonConfigUtil::RemoveValue(const wchar_t* key)
{
    if (key == nullptr)
        return ERROR_INVALID_PARAMETER;
    return Edit([&](Values& values) {
        return static_cast<DWORD>(values.erase(key) != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    });
}

void CJsonConfigUtil::ReleaseValue(wchar_t** value)
{
    if (value == nullptr)
        return;
    delete[] *value;
    *value = nullptr;
}
