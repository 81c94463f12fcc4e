#include "CProxyObjects.h"

#include "CObjectRegistry.h"
#include "platform/TextUtil.h"

#include <new>
#include <utility>

CProxySetting::CProxySetting(DWORD mode, std::wstring proxies, std::wstring user, std::wstring password,
                             std::wstring reserved, std::wstring pacUrl, bool autoDetect, bool fallback)
    : m_mode(mode), m_proxies(std::move(proxies)), m_user(std::move(user)), m_password(std::move(password)),
      m_reserved(std::move(reserved)), m_pacUrl(std::move(pacUrl)), m_autoDetect(autoDetect), m_fallback(fallback)
{
}

bool CProxySetting::Equals(const ICommsProxyConfig* other) const
{
    if (other == nullptr)
        return false;
    auto same = [](const std::wstring& mine, const wchar_t* theirs) { return mine == TextOrEmpty(theirs); };
    return m_mode == other->GetMode() && same(m_proxies, other->GetProxyList()) && same(m_user, other->GetUser()) &&
           same(m_password, other->GetPassword()) && same(m_pacUrl, other->GetWpadUrl()) &&
           same(m_reserved, other->GetReserved()) && m_autoDetect == other->GetAutoDetect();
}

ProxyRoute RouteOf(const ICommsProxyConfig& config)
{
    ProxyRoute route;
    route.fallback = config.GetFallback();
    route.reserved = TextOrEmpty(config.GetReserved());
    switch (config.GetMode())
    {
    case kProxyModeExplicit:
        route.kind = ProxyRoute::EKind::Explicit;
        route.proxies = TextOrEmpty(config.GetProxyList());
        route.user = TextOrEmpty(config.GetUser());
        route.password = TextOrEmpty(config.GetPassword());
        break;
    case kProxyModeWpad:
        route.pacUrl = TextOrEmpty(config.GetWpadUrl());
        route.kind = route.pacUrl.empty() ? ProxyRoute::EKind::Wpad : ProxyRoute::EKind::Pac;
        route.user = TextOrEmpty(config.GetUser());
        route.password = TextOrEmpty(config.GetPassword());
        break;
    default:
        route.kind = ProxyRoute::EKind::Direct;
        break;
    }
    return route;
}

bool CProxyRouteList::Add(ProxyRoute route) noexcept
{
    try
    {
        m_routes.push_back(std::move(route));
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool CProxyRouteList::AddDirect(bool fallback)
{
    ProxyRoute route;
    route.fallback = fallback;
    return Add(std::move(route));
}

bool CProxyRouteList::AddExplicit(const wchar_t* proxyList, const wchar_t* user, const wchar_t* password,
                                  const wchar_t* reserved, bool fallback)
{
    if (proxyList == nullptr || *proxyList == L'\0')
        return false;
    ProxyRoute route;
    route.kind = ProxyRoute::EKind::Explicit;
    route.proxies = proxyList;
    route.user = TextOrEmpty(user);
    route.password = TextOrEmpty(password);
    route.reserved = TextOrEmpty(reserved);
    route.fallback = fallback;
    return Add(std::move(route));
}

bool CProxyRouteList::AddPac(const wchar_t* pacUrl, const wchar_t* user, const wchar_t* password, DWORD, DWORD,
                             bool fallback)
{
    if (pacUrl == nullptr || *pacUrl == L'\0')
        return false;
    ProxyRoute route;
    route.kind = ProxyRoute::EKind::Pac;
    route.pacUrl = pacUrl;
    route.user = TextOrEmpty(user);
    route.password = TextOrEmpty(password);
    route.fallback = fallback;
    return Add(std::move(route));
}

bool CProxyRouteList::AddAutomatic(DWORD kind, bool fallback)
{
    ProxyRoute route;
    route.fallback = fallback;
    switch (kind)
    {
    case kAutoProxyWinHttp:
        route.kind = ProxyRoute::EKind::WinHttp;
        break;
    case kAutoProxyIe:
        route.kind = ProxyRoute::EKind::Ie;
        break;
    case kAutoProxyWpad:
        route.kind = ProxyRoute::EKind::Wpad;
        break;
    default:
        return false;
    }
    return Add(std::move(route));
}

bool CProxyRouteList::AddProxyConfig(const ICommsProxyConfig* config)
{
    if (config == nullptr)
        return false;
    try
    {
        return Add(RouteOf(*config));
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

ProxyRoutes RoutesOf(ICommsProxyList* list)
{
    if (list == nullptr || !registry::IsOut(list, EObjectKind::ProxyList))
        return {};
    return static_cast<CProxyRouteList*>(list)->Routes();
}
