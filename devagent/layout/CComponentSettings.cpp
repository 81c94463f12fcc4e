#include "CComponentSettings.h"

#include "platform/Files.h"
#include "platform/ModuleFolder.h"

#include <cwchar>

namespace
{

std::wstring ConfigPath()
{
    const std::wstring folder = ThisModuleFolder();
    return folder.empty() ? std::wstring() : folder + L"config.json";
}

} // namespace

std::uint64_t SettingNumber(const CMessageItem& item)
{
    switch (item.m_type)
    {
    case Boolean: return item.m_value.boolean ? 1 : 0;
    case Integer: return item.m_unsigned || item.m_value.i64 >= 0 ? item.m_value.u64 : 0;
    case String: return item.m_string == L"true" ? 1 : std::wcstoull(item.m_string.c_str(), nullptr, 10);
    default: return 0;
    }
}

CComponentSettings::CComponentSettings() : m_path(ConfigPath()) {}

std::uint64_t CComponentSettings::Number(const wchar_t* key)
{
    // The file is looked at before the mutex: callers on other threads wait for each other only while a key is
    // looked up or the file parsed again.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const bool present = !m_path.empty() && ::GetFileAttributesExW(m_path.c_str(), GetFileExInfoStandard, &data);
    std::lock_guard<std::mutex> lock(m_mutex);
    Refresh(present ? &data : nullptr);
    const CMessageItem* item = nullptr;
    if (!m_values.FindItem(key, item))
        return 0;
    return SettingNumber(*item);
}

void CComponentSettings::Refresh(const WIN32_FILE_ATTRIBUTE_DATA* data)
{
    if (data == nullptr)
    {
        m_values = CMessageObject();
        m_read = false;
        return;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(data->nFileSizeHigh) << 32 | data->nFileSizeLow;
    if (m_read && size == m_size && ::CompareFileTime(&data->ftLastWriteTime, &m_stamp) == 0)
        return;
    m_values = CMessageObject();
    std::string text;
    // Shared for delete too: the configuration component replaces the file while others read it.
    if (ReadWholeFile(m_path, text, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) != ERROR_SUCCESS)
    {
        m_read = false; // read again next time: a writer may be replacing it
        return;
    }
    if (!m_values.FromUtf8Json(text))
        m_values = CMessageObject();
    m_read = true;
    m_stamp = data->ftLastWriteTime;
    m_size = size;
}
