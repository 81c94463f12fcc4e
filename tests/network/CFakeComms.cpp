#include "CFakeComms.h"

#include <algorithm>

namespace
{

std::wstring Text(const wchar_t* text)
{
    return text != nullptr ? std::wstring(text) : std::wstring(L"<null>");
}

std::wstring Flag(bool value)
{
    return value ? L"1" : L"0";
}

template <typename T>
bool MarkReleased(std::vector<std::unique_ptr<T>>& objects, const void* handle)
{
    const auto found = std::find_if(objects.begin(), objects.end(), [&](const std::unique_ptr<T>& object) {
        return static_cast<const void*>(object.get()) == handle;
    });
    if (found == objects.end() || (*found)->released)
        return false;
    (*found)->released = true;
    return true;
}

template <typename T>
int CountOutstanding(const std::vector<std::unique_ptr<T>>& objects)
{
    return static_cast<int>(std::count_if(objects.begin(), objects.end(),
                                          [](const std::unique_ptr<T>& object) { return !object->released; }));
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
    std::vector<std::wstring> texts(certificates, certificates + count);
    added.emplace_back(Text(domain), std::move(texts));
}

int CFakeComms::Outstanding() const
{
    return CountOutstanding(lists) + CountOutstanding(configs) + CountOutstanding(trusts);
}

ICommsProxyList* CFakeComms::CreateProxyList()
{
    if (failProxyList)
        return nullptr;
    lists.push_back(std::make_unique<CFakeProxyList>());
    lists.back()->accept = listAccepts;
    return lists.back().get();
}

void CFakeComms::ReleaseProxyList(ICommsProxyList* list)
{
    if (!MarkReleased(lists, list))
        ++m_badReleases;
}

ICommsProxyConfig* CFakeComms::CreateEmptyProxyConfig()
{
    configs.push_back(std::make_unique<CFakeProxyConfig>());
    return configs.back().get();
}

ICommsProxyConfig* CFakeComms::CreateProxyConfig(DWORD mode, const wchar_t* proxyList, const wchar_t* user,
                                          const wchar_t* password, const wchar_t* reserved, const wchar_t* pacUrl,
                                          bool autoDetect, bool fallback)
{
    if (failProxyConfig)
        return nullptr;
    auto config = std::make_unique<CFakeProxyConfig>();
    config->mode = mode;
    config->proxyList = proxyList != nullptr ? proxyList : L"";
    config->user = user != nullptr ? user : L"";
    config->password = password != nullptr ? password : L"";
    config->reserved = Text(reserved);
    config->wpadUrl = pacUrl != nullptr ? pacUrl : L"";
    config->autoDetect = autoDetect;
    config->fallback = fallback;
    configs.push_back(std::move(config));
    return configs.back().get();
}

void CFakeComms::ReleaseProxyConfig(ICommsProxyConfig* config)
{
    if (!MarkReleased(configs, config))
        ++m_badReleases;
}

ICertificateTrust* CFakeComms::CreateCertificateTrust()
{
    if (failTrust)
        return nullptr;
    trusts.push_back(std::make_unique<CFakeTrust>());
    return trusts.back().get();
}

void CFakeComms::ReleaseCertificateTrust(ICertificateTrust* trust)
{
    if (!MarkReleased(trusts, trust))
        ++m_badReleases;
}
