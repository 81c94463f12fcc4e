#include "StandInConfig.h"

#include "platform/Files.h"
#include "platform/ModuleFolder.h"

#include <cwchar>

namespace standin
{

CMessageObject ReadConfig()
{
    CMessageObject config;
    const std::wstring folder = ThisModuleFolder();
    if (folder.empty())
        return config;
    // Components outside "Utils" share the configuration stand-in's file there.
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    std::string text;
    if (ReadWholeFile(folder + L"config.json", text, kShare) != ERROR_SUCCESS &&
        ReadWholeFile(folder + L"..\\Utils\\config.json", text, kShare) != ERROR_SUCCESS)
        return config;
    if (!config.FromUtf8Json(text))
        return CMessageObject();
    return config;
}

bool IsOn(const CMessageObject& config, const wchar_t* key)
{
    const CMessageItem* item = nullptr;
    if (!config.FindItem(key, item))
        return false;
    switch (item->m_type)
    {
    case Boolean:
        return item->m_value.boolean;
    case Integer:
        return (item->m_unsigned || item->m_value.i64 >= 0) && item->m_value.u64 != 0;
    case String:
        return item->m_string == L"true" || std::wcstoull(item->m_string.c_str(), nullptr, 10) != 0;
    default:
        return false;
    }
}

std::uint32_t UIntOr(const CMessageObject& config, const wchar_t* key, std::uint32_t fallback)
{
    std::uint32_t value = fallback;
    config.GetUInt32(key, value);
    return value;
}

} // namespace standin
