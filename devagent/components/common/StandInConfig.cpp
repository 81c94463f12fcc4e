#include "StandInConfig.h"

#include "CComponentSettings.h"
#include "platform/Files.h"
#include "platform/ModuleFolder.h"

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
    return SettingNumber(*item) != 0;
}

std::uint32_t UIntOr(const CMessageObject& config, const wchar_t* key, std::uint32_t fallback)
{
    std::uint32_t value = fallback;
    config.GetUInt32(key, value);
    return value;
}

} // namespace standin
