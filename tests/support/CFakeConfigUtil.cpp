#include "CFakeConfigUtil.h"

#include <cwchar>

void CFakeConfigUtil::Set(const std::wstring& key, const std::wstring& value)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_values[key] = value;
}

int CFakeConfigUtil::Calls() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

int CFakeConfigUtil::Outstanding() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_outstanding;
}

DWORD CFakeConfigUtil::QueryValue(const wchar_t* key, wchar_t** value, DWORD)
{
    std::wstring found;
    if (CFakeConfigUtil::GetValue(key, found, 0) != ERROR_SUCCESS)
        return ERROR_FILE_NOT_FOUND;
    *value = new wchar_t[found.size() + 1];
    std::wmemcpy(*value, found.c_str(), found.size() + 1);
    const std::lock_guard<std::mutex> lock(m_mutex);
    ++m_outstanding;
    return ERROR_SUCCESS;
}

DWORD CFakeConfigUtil::GetValue(const wchar_t* key, std::wstring& value, DWORD)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    ++m_calls;
    const auto found = m_values.find(key);
    if (found == m_values.end())
        return ERROR_FILE_NOT_FOUND;
    value = found->second;
    return ERROR_SUCCESS;
}

DWORD CFakeConfigUtil::QuerySectionValue(const wchar_t* section, const wchar_t* group, const wchar_t* key,
                                         wchar_t* buffer, DWORD* size, DWORD)
{
    std::wstring found;
    if (CFakeConfigUtil::GetValue((std::wstring(section) + L"." + group + L"." + key).c_str(), found, 0) !=
        ERROR_SUCCESS)
        return ERROR_FILE_NOT_FOUND;
    const DWORD needed = static_cast<DWORD>(found.size() + 1);
    const bool fits = buffer != nullptr && *size >= needed;
    if (fits)
        std::wmemcpy(buffer, found.c_str(), needed);
    *size = needed;
    return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

DWORD CFakeConfigUtil::SetValue(const wchar_t* key, const wchar_t* value, DWORD)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    ++m_calls;
    m_values[key] = value;
    return ERROR_SUCCESS;
}

DWORD CFakeConfigUtil::RemoveValue(const wchar_t* key)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    ++m_calls;
    return m_values.erase(key) != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

void CFakeConfigUtil::ReleaseValue(wchar_t** value)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (*value != nullptr)
        --m_outstanding;
    delete[] * value;
    *value = nullptr;
}
