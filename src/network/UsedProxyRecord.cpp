#include "network/UsedProxyRecord.h"

#include "message/CMessageObject.h"
#include "platform/TextUtil.h"

namespace
{

constexpr wchar_t kMode[] = L"Mode";
constexpr wchar_t kProxyList[] = L"ProxyList";
constexpr wchar_t kUsername[] = L"Username";
constexpr wchar_t kPassword[] = L"Password";
constexpr wchar_t kWpadUrl[] = L"WPADUrl";
constexpr wchar_t kWpadAutoDetect[] = L"WPADAutoDetect";
constexpr wchar_t kFallback[] = L"Fallback";

void AddIfNotEmpty(CMessageObject& object, const wchar_t* name, const std::wstring& value)
{
    if (!value.empty())
        object.AddString(name, value);
}

} // namespace

UsedProxyRecord UsedProxyRecord::From(const ICommsProxyConfig& config)
{
    UsedProxyRecord record;
    record.mode = config.GetMode();
    record.proxyList = TextOrEmpty(config.GetProxyList());
    record.username = TextOrEmpty(config.GetUser());
    record.password = TextOrEmpty(config.GetPassword());
    record.wpadUrl = TextOrEmpty(config.GetWpadUrl());
    record.wpadAutoDetect = config.GetAutoDetect();
    record.fallback = config.GetFallback();
    return record;
}

bool UsedProxyRecord::ToJson(std::wstring& out) const
{
    CMessageObject object;
    object.AddUInt32(kMode, mode);
    AddIfNotEmpty(object, kProxyList, proxyList);
    AddIfNotEmpty(object, kUsername, username);
    AddIfNotEmpty(object, kPassword, password);
    AddIfNotEmpty(object, kWpadUrl, wpadUrl);
    object.AddBool(kWpadAutoDetect, wpadAutoDetect);
    object.AddBool(kFallback, fallback);
    return object.Serialize(out);
}

bool UsedProxyRecord::FromJson(const std::wstring& text)
{
    CMessageObject object;
    if (text.empty() || !object.FromJson(text) || object.IsArray())
        return false;
    UsedProxyRecord record;
    std::uint32_t value = 0;
    if (object.GetUInt32(kMode, value))
        record.mode = value;
    object.GetString(kProxyList, record.proxyList);
    object.GetString(kUsername, record.username);
    object.GetString(kPassword, record.password);
    object.GetString(kWpadUrl, record.wpadUrl);
    object.GetBool(kWpadAutoDetect, record.wpadAutoDetect);
    object.GetBool(kFallback, record.fallback);
    *this = std::move(record);
    return true;
}
