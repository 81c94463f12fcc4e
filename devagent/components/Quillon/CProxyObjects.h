#pragma once
// Proxy routes: one way of reaching the server (direct, an explicit proxy, a PAC file, WPAD, or the
// system's WinHTTP or Internet Explorer settings), the proxy configuration object that holds one, and the
// proxy list that holds them in the order an exchange tries them.

#include "host/ICommsProxy.h"

#include <string>
#include <vector>

struct ProxyRoute
{
    enum class EKind
    {
        Direct,
        Explicit,   // proxies: "host[:port]" pieces separated by ";"
        Pac,        // pacUrl
        Wpad,       // auto-detection
        WinHttp,    // the machine's WinHTTP proxy setting
        Ie,         // the user's Internet Explorer setting
    };

    EKind kind = EKind::Direct;
    std::wstring proxies;
    std::wstring user;
    std::wstring password;
    std::wstring reserved;
    std::wstring pacUrl;
    bool fallback = false;   // when this route cannot reach the server, the next one is tried
};

using ProxyRoutes = std::vector<ProxyRoute>;

class CProxySetting final : public ICommsProxyConfig
{
public:
    CProxySetting() = default;
    CProxySetting(DWORD mode, std::wstring proxies, std::wstring user, std::wstring password, std::wstring reserved,
                  std::wstring pacUrl, bool autoDetect, bool fallback);

    DWORD GetMode() const override { return m_mode; }
    const wchar_t* GetProxyList() const override { return m_proxies.c_str(); }
    const wchar_t* GetUser() const override { return m_user.c_str(); }
    const wchar_t* GetPassword() const override { return m_password.c_str(); }
    const wchar_t* GetWpadUrl() const override { return m_pacUrl.c_str(); }
    const wchar_t* GetReserved() const override { return m_reserved.c_str(); }
    bool GetAutoDetect() const override { return m_autoDetect; }
    bool GetFallback() const override { return m_fallback; }
    void Reserved9() override {}
    bool Equals(const ICommsProxyConfig* other) const override;

    // What an exchange reports as the route it used.
    void Assign(const CProxySetting& other) { *this = other; }

private:
    DWORD m_mode = 0;
    std::wstring m_proxies;
    std::wstring m_user;
    std::wstring m_password;
    std::wstring m_reserved;
    std::wstring m_pacUrl;
    bool m_autoDetect = false;
    bool m_fallback = false;
};

// The route a configuration (this component's or any other implementation) describes.
ProxyRoute RouteOf(const ICommsProxyConfig& config);

class CProxyRouteList final : public ICommsProxyList
{
public:
    bool AddDirect(bool fallback) override;
    bool AddExplicit(const wchar_t* proxyList, const wchar_t* user, const wchar_t* password, const wchar_t* reserved,
                     bool fallback) override;
    bool AddPac(const wchar_t* pacUrl, const wchar_t* user, const wchar_t* password, DWORD reserved1, DWORD reserved2,
                bool fallback) override;
    bool AddAutomatic(DWORD kind, bool fallback) override;
    void Reserved5() override {}
    void Reserved6() override {}
    void Reserved7() override {}
    void Reserved8() override {}
    void Reserved9() override {}
    bool AddProxyConfig(const ICommsProxyConfig* config) override;

    const ProxyRoutes& Routes() const { return m_routes; }

private:
    bool Add(ProxyRoute route) noexcept;

    ProxyRoutes m_routes;
};

// The routes of a list this component handed out; empty (a direct connection) for anything else.
ProxyRoutes RoutesOf(ICommsProxyList* list);
