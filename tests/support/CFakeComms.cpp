#include "CFakeComms.h"

namespace
{

std::wstring Text(const wchar_t* text, const wchar_t* null = L"<null>")
{
    return text != nullptr ? text : null;
}

std::wstring Flag(bool value)
{
    return value ? L"1" : L"0";
}

} // namespace

bool CFakeProxyConfig::Equals(const ICommsProxyConfig* other) const
{
    if (other == nullptr)
        return false;
    const auto same = [](const wchar_t* a, const std::wstring& b) { return Text(a) == b; };
    return other->GetMode() == mode && same(other->GetProxyList(), proxyList) && same(other->GetUser(), user) &&
           same(other->GetPassword(), password) && same(other->GetWpadUrl(), wpadUrl) &&
           other->GetAutoDetect() == autoDetect;
}

std::wstring CFakeProxyConfig::Describe() const
{
    return std::to_wstring(mode) + L"|" + proxyList + L"|" + user + L"|" + password + L"|" + wpadUrl + L"|" +
           Flag(autoDetect) + L"|" + Flag(fallback);
}

bool CFakeProxyList::AddDirect(bool fallback)
{
    routes.push_back(L"direct " + Flag(fallback));
    return accept;
}

bool CFakeProxyList::AddExplicit(const wchar_t* proxyList, const wchar_t* user, const wchar_t* password,
                                 const wchar_t* reserved, bool fallback)
{
    routes.push_back(L"explicit " + Text(proxyList) + L" " + Text(user) + L" " + Text(password) + L" " +
                     Text(reserved) + L" " + Flag(fallback));
    return accept;
}

bool CFakeProxyList::AddPac(const wchar_t* pacUrl, const wchar_t* user, const wchar_t* password, DWORD reserved1,
                            DWORD reserved2, bool fallback)
{
    routes.push_back(L"pac " + Text(pacUrl) + L" [" + Text(user) + L"] [" + Text(password) + L"] " +
                     std::to_wstring(reserved1) + L" " + std::to_wstring(reserved2) + L" " + Flag(fallback));
    return accept;
}

bool CFakeProxyList::AddAutomatic(DWORD kind, bool fallback)
{
    routes.push_back(L"auto " + std::to_wstring(kind) + L" " + Flag(fallback));
    return accept;
}

bool CFakeProxyList::AddProxyConfig(const ICommsProxyConfig* config)
{
    const auto* fake = static_cast<const CFakeProxyConfig*>(config);
    routes.push_back(L"config " + (fake != nullptr ? fake->Describe() : std::wstring(L"<null>")));
    return accept && fake != nullptr;
}

void CFakeTrust::AddTrustedCertificates(const wchar_t* domain, DWORD count, const wchar_t* const* certificates)
{
    added.emplace_back(Text(domain), std::vector<std::wstring>(certificates, certificates + count));
}

ICommsProxyList* CFakeComms::CreateProxyList()
{
    CFakeProxyList* list = Keep(lists, failProxyList);
    if (list != nullptr)
        list->accept = listAccepts;
    return list;
}

ICommsProxyConfig* CFakeComms::CreateProxyConfig(DWORD mode, const wchar_t* proxyList, const wchar_t* user,
                                                 const wchar_t* password, const wchar_t* reserved,
                                                 const wchar_t* pacUrl, bool autoDetect, bool fallback)
{
    CFakeProxyConfig* config = Keep(configs, false);
    if (config == nullptr)
        return nullptr;
    config->mode = mode;
    config->proxyList = Text(proxyList, L"");
    config->user = Text(user, L"");
    config->password = Text(password, L"");
    config->reserved = Text(reserved);
    config->wpadUrl = Text(pacUrl, L"");
    config->autoDetect = autoDetect;
    config->fallback = fallback;
    return config;
}
