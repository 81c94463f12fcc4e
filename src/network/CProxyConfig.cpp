#include "network/CProxyConfig.h"

#include "comms/CAESCypher.h"
#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "message/CMessageObject.h"
#include "network/UsedProxyRecord.h"
#include "platform/TextUtil.h"

TRACE_UNIT("32b491bd-0ca9-4812-bd53-152454874f1f");

namespace
{

constexpr wchar_t kFallbackListKey[] = L"Proxy.Default.FallbackList";
constexpr wchar_t kDevicePortKey[] = L"Proxy.Device.DefaultPort";
constexpr wchar_t kLastUsedKey[] = L"Proxy.Default.LastProxyConfigUsed";
constexpr wchar_t kAlternativeUsedKey[] = L"Proxy.Default.AlternativeProxyConfigUsed";
constexpr wchar_t kDefaultDevicePort[] = L"3128";

constexpr wchar_t kProxyConfigArray[] = L"ProxyConfig";
constexpr wchar_t kSource[] = L"source";
constexpr wchar_t kFallback[] = L"fallback";
constexpr wchar_t kProxyListItem[] = L"proxyList";
constexpr wchar_t kUser[] = L"user";
constexpr wchar_t kPassword[] = L"password";
constexpr wchar_t kDeviceId[] = L"DeviceId";
constexpr wchar_t kPacFileUrl[] = L"PacFileUrl";

constexpr wchar_t kSourceExplicit[] = L"explicit";
constexpr wchar_t kSourceDirect[] = L"direct";
constexpr wchar_t kSourceWinHttp[] = L"winhttp";
constexpr wchar_t kSourceWpad[] = L"wpad";
constexpr wchar_t kSourceIe[] = L"ie";

const wchar_t* UsedKey(bool alternative)
{
    return alternative ? kAlternativeUsedKey : kLastUsedKey;
}

// Could the stored list be enciphered at all? Its Base64 form holds only the alphabet, in whole quads;
// anything else (the plain JSON form, with its braces) is not handed to the cipher, which would trace it.
bool LooksEnciphered(const std::wstring& stored)
{
    if (stored.size() % 4 != 0)
        return false;
    for (const wchar_t c : stored)
    {
        if (!((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'+' ||
              c == L'/' || c == L'='))
            return false;
    }
    return true;
}

bool Decipher(const std::wstring& stored, std::wstring& text)
{
    std::string base64;
    std::string utf8;
    CAESCypher cypher;
    return WideToBytes(stored, base64, CP_UTF8) && cypher.DecryptFromBase64(base64, utf8) &&
           BytesToWide(utf8, text, CP_UTF8);
}

// The list's answer for one route; a refused route is traced by its source and what it names (if anything).
bool Accepted(bool accepted, const wchar_t* source, const std::wstring& route)
{
    if (!accepted)
        TRACE_WARNING(kTraceFlagEvents, 23, "proxy settings: the proxy list refused the %ls route %ls", source, route);
    return accepted;
}

} // namespace

CProxyConfig::CProxyConfig(IConfigUtil* util, ICommsWrapper* comms, bool putLastUsedFirst)
    : m_comms(comms),
      m_configUtil(util),
      m_proxyList(nullptr, ProxyListRelease{comms}),
      m_explicitProxy(nullptr, ProxyConfigRelease{comms}),
      m_wpadProxy(nullptr, ProxyConfigRelease{comms}),
      m_usedProxy(nullptr, ProxyConfigRelease{comms}),
      m_putLastUsedFirst(putLastUsedFirst)
{
    m_valid = Load();
}

bool CProxyConfig::Load()
{
    if (m_comms == nullptr || m_configUtil == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "proxy settings: no communications component %p or configuration %p",
                    static_cast<void*>(m_comms), static_cast<void*>(m_configUtil));
        return false;
    }
    m_proxyList.reset(m_comms->CreateProxyList());
    if (!m_proxyList)
    {
        TRACE_ERROR(kTraceFlagEvents, 11, "proxy settings: the communications component gave no proxy list");
        return false;
    }

    const bool lastUsedAccepted = m_putLastUsedFirst && ApplyLastUsed();

    bool anyAccepted = false;
    CMessageObject document;
    const CMessageObject* entries = nullptr;
    if (ReadFallbackList(document) && document.GetArray(kProxyConfigArray, entries))
    {
        bool first = true;
        for (const CMessageItem& item : entries->Items())
        {
            if (item.m_type != Object || item.m_value.object == nullptr || item.m_value.object->IsArray())
                continue;
            if (ParseEntry(*item.m_value.object, first))
                anyAccepted = true;
            first = false;
        }
    }
    else
    {
        TRACE_WARNING(kTraceFlagEvents, 12, "proxy settings: no usable %ls", kFallbackListKey);
    }
    if (anyAccepted)
        return true;

    const bool directAccepted = Accepted(m_proxyList->AddDirect(true), kSourceDirect, L"");
    if (!directAccepted && !lastUsedAccepted)
        TRACE_ERROR(kTraceFlagEvents, 13, "proxy settings: the proxy list accepted no route");
    return directAccepted || lastUsedAccepted;
}

bool CProxyConfig::ReadFallbackList(CMessageObject& document) const
{
    // ReadConfigValue gives the stored value back to the component on every path.
    std::wstring value;
    const DWORD error = ReadConfigValue(kFallbackListKey, value, m_configUtil);
    if (error != ERROR_SUCCESS)
    {
        TRACE_WARNING(kTraceFlagEvents, 14, "proxy settings: cannot read %ls: error %u", kFallbackListKey, error);
        return false;
    }
    if (value.empty())
        return false;
    std::wstring text;
    if (LooksEnciphered(value) && Decipher(value, text))
    {
        if (document.FromJson(text))
            return true;
    }
    else if (document.FromJson(value))
    {
        TRACE_VERBOSE(kTraceFlagEvents, 21, "proxy settings: %ls is stored as plain JSON", kFallbackListKey);
        return true;
    }
    TRACE_ERROR(kTraceFlagEvents, 22, "proxy settings: %ls is neither enciphered nor JSON", kFallbackListKey);
    return false;
}

bool CProxyConfig::ApplyLastUsed()
{
    const ICommsProxyConfig* used = GetProxyConfigUsed(false);
    if (used == nullptr)
        return false;
    const UsedProxyRecord record = UsedProxyRecord::From(*used);
    const auto fromRecord = [&] {
        return CreateConfig(record.mode, record.proxyList.c_str(), record.username.c_str(),
                            record.password.c_str(), record.wpadUrl.c_str(), record.wpadAutoDetect,
                            record.fallback);
    };

    bool accepted = false;
    if (record.mode != kProxyModeWpad || m_wpadAllowed)
    {
        const CCommsProxyConfig config = fromRecord();
        accepted = config && Accepted(m_proxyList->AddProxyConfig(config.get()), L"last used",
                                      record.mode == kProxyModeWpad ? record.wpadUrl : record.proxyList);
    }
    if (!m_explicitProxy && record.mode == kProxyModeExplicit)
        m_explicitProxy = fromRecord();
    else if (!m_wpadProxy && record.mode == kProxyModeWpad)
        m_wpadProxy = fromRecord();
    return accepted;
}

bool CProxyConfig::ParseEntry(const CMessageObject& entry, bool first)
{
    std::wstring source;
    entry.GetString(kSource, source);
    bool fallback = false;
    entry.GetBool(kFallback, fallback);

    if (source == kSourceExplicit)
        return ParseExplicit(entry, fallback);
    if (source == kSourceDirect)
        return Accepted(m_proxyList->AddDirect(fallback), kSourceDirect, L"");
    if (source == kSourceWinHttp)
        return Accepted(m_proxyList->AddAutomatic(kAutoProxyWinHttp, fallback), kSourceWinHttp, L"");
    if (source == kSourceIe)
        return Accepted(m_proxyList->AddAutomatic(kAutoProxyIe, fallback), kSourceIe, L"");
    if (source == kSourceWpad)
    {
        std::wstring pacUrl;
        bool accepted = false;
        if (entry.GetString(kPacFileUrl, pacUrl))
        {
            accepted = Accepted(m_proxyList->AddPac(pacUrl.c_str(), L"", L"", 0, 0, fallback), kSourceWpad, pacUrl);
            if (first && !m_wpadProxy)
                m_wpadProxy = CreateConfig(kProxyModeWpad, nullptr, nullptr, nullptr, pacUrl.c_str(), false, fallback);
        }
        else
        {
            accepted = Accepted(m_proxyList->AddAutomatic(kAutoProxyWpad, fallback), kSourceWpad, L"");
            if (first && !m_wpadProxy)
                m_wpadProxy = CreateConfig(kProxyModeWpad, nullptr, nullptr, nullptr, nullptr, true, fallback);
        }
        return accepted;
    }
    TRACE_WARNING(kTraceFlagEvents, 15, "proxy settings: entry of unknown source \"%ls\" skipped", source);
    return false;
}

bool CProxyConfig::ParseExplicit(const CMessageObject& entry, bool fallback)
{
    std::wstring proxyList;
    if (!entry.GetString(kProxyListItem, proxyList))
    {
        TRACE_WARNING(kTraceFlagEvents, 16, "proxy settings: explicit entry without %ls skipped", kProxyListItem);
        return false;
    }
    std::wstring user;
    std::wstring password;
    std::wstring deviceId;
    entry.GetString(kUser, user);
    entry.GetString(kPassword, password);
    entry.GetString(kDeviceId, deviceId);

    if (deviceId.empty())
        return AddExplicitRoute(proxyList, user, password, fallback);
    // An agent never routes through itself.
    if (IsOwnDeviceId(deviceId))
        return Accepted(m_proxyList->AddDirect(fallback), kSourceDirect, deviceId);
    return AddExplicitRoute(AddDefaultPort(proxyList), user, password, fallback);
}

bool CProxyConfig::AddExplicitRoute(const std::wstring& proxyText, const std::wstring& user,
                                    const std::wstring& password, bool fallback)
{
    const bool accepted = Accepted(
        m_proxyList->AddExplicit(proxyText.c_str(), user.c_str(), password.c_str(), nullptr, fallback),
        kSourceExplicit, proxyText);
    if (!m_explicitProxy)
        m_explicitProxy = CreateConfig(kProxyModeExplicit, proxyText.c_str(), user.c_str(), password.c_str(),
                                       nullptr, false, fallback);
    return accepted;
}

bool CProxyConfig::IsOwnDeviceId(const std::wstring& deviceId) const
{
    std::wstring own;
    if (!GetRegisteredDeviceId(own, m_configUtil))
        return false;
    return ::CompareStringOrdinal(deviceId.c_str(), static_cast<int>(deviceId.size()), own.c_str(),
                                  static_cast<int>(own.size()), TRUE) == CSTR_EQUAL;
}

std::wstring CProxyConfig::AddDefaultPort(const std::wstring& proxyText) const
{
    std::wstring port;
    // An empty port would give "host:", which no proxy answers on.
    if (m_configUtil == nullptr || m_configUtil->GetValue(kDevicePortKey, port, 0) != ERROR_SUCCESS ||
        port.empty())
        port = kDefaultDevicePort;

    std::wstring result;
    std::size_t start = 0;
    for (;;)
    {
        const std::size_t end = proxyText.find(L';', start);
        const std::wstring piece = proxyText.substr(start, end == std::wstring::npos ? end : end - start);
        if (start != 0)
            result += L';';
        result += piece;
        // An empty piece (a doubled or trailing ";") stays empty rather than becoming ":port".
        if (!piece.empty() && piece.find(L':') == std::wstring::npos)
            result += L':' + port;
        if (end == std::wstring::npos)
            return result;
        start = end + 1;
    }
}

CCommsProxyConfig CProxyConfig::CreateConfig(DWORD mode, const wchar_t* proxyList, const wchar_t* user,
                                             const wchar_t* password, const wchar_t* pacUrl, bool autoDetect,
                                             bool fallback) const
{
    CCommsProxyConfig config(
        m_comms->CreateProxyConfig(mode, proxyList, user, password, nullptr, pacUrl, autoDetect, fallback),
        ProxyConfigRelease{m_comms});
    if (!config)
        TRACE_ERROR(kTraceFlagEvents, 17,
                    "proxy settings: the communications component gave no configuration of mode %u", mode);
    return config;
}

ICommsProxyConfig* CProxyConfig::GetProxyConfigUsed(bool alternative)
{
    m_usedProxy.reset();
    if (m_comms == nullptr || m_configUtil == nullptr)
        return nullptr;
    std::wstring text;
    UsedProxyRecord record;
    if (m_configUtil->GetValue(UsedKey(alternative), text, 0) != ERROR_SUCCESS || text.empty())
        return nullptr;
    if (!record.FromJson(text))
    {
        TRACE_ERROR(kTraceFlagEvents, 24, "proxy settings: %ls is not a JSON object", UsedKey(alternative));
        return nullptr;
    }
    m_usedProxy = CreateConfig(record.mode, record.proxyList.c_str(), record.username.c_str(),
                               record.password.c_str(), record.wpadUrl.c_str(), record.wpadAutoDetect,
                               record.fallback);
    return m_usedProxy.get();
}

bool CProxyConfig::SetProxyConfigUsed(const ICommsProxyConfig* proxy, bool alternative)
{
    if (m_comms == nullptr || m_configUtil == nullptr)
        return false;
    const wchar_t* key = UsedKey(alternative);
    const ICommsProxyConfig* stored = GetProxyConfigUsed(alternative);
    if (stored != nullptr)
    {
        if (proxy == nullptr)
        {
            const DWORD error = m_configUtil->RemoveValue(key);
            if (error != ERROR_SUCCESS)
                TRACE_ERROR(kTraceFlagEvents, 18, "proxy settings: cannot remove %ls: error %u", key, error);
            return error == ERROR_SUCCESS;
        }
        if (stored->Equals(proxy) && stored->GetFallback() == proxy->GetFallback())
            return false;
    }
    else if (proxy == nullptr)
    {
        return false;
    }

    std::wstring text;
    if (!UsedProxyRecord::From(*proxy).ToJson(text))
    {
        TRACE_ERROR(kTraceFlagEvents, 19, "proxy settings: cannot write the record for %ls", key);
        return false;
    }
    const DWORD error = m_configUtil->SetValue(key, text.c_str(), 0);
    if (error != ERROR_SUCCESS)
        TRACE_ERROR(kTraceFlagEvents, 20, "proxy settings: cannot store %ls: error %u", key, error);
    return error == ERROR_SUCCESS;
}

void CProxyConfig::AttachToClient(IDataServiceClient* client)
{
    if (client != nullptr && m_proxyList)
        client->SetProxy(m_proxyList.get());
}

void CProxyConfig::AttachToRequest(ICommsRequest* request)
{
    if (request != nullptr && m_proxyList)
        request->SetProxy(m_proxyList.get());
}
