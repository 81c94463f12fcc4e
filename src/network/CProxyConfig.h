#pragma once
// The routes a connection to the management platform tries, built once from the fallback list in the
// configuration into a proxy list of the communications component, and the record of the proxy that worked
// last. One instance serves one connection or one hit, on one thread.
//
// Handles returned here stay owned by the instance and live as long as it does (GetProxyConfigUsed's until
// the next call of it). The configuration utility and the communications component must outlive it.

#include "host/ICommsProxy.h"
#include "host/ICommsWrapper.h"
#include "host/IConfigUtil.h"
#include "network/CommsObjects.h"

#include <string>

class CMessageObject;

class IProxyConfig
{
public:
    virtual ~IProxyConfig() = default;
    [[nodiscard]] virtual bool IsValid() const = 0;
    virtual ICommsProxyList* GetProxyList() const = 0;
    // The first explicit route, null if none.
    virtual ICommsProxyConfig* GetExplicitProxy() const = 0;
    // The WPAD or PAC route of the list's first entry, null if none.
    virtual ICommsProxyConfig* GetWpadProxy() const = 0;
    // Records proxy as the last-used (alternative false) or alternative proxy; a null proxy removes the
    // record. True only when the configuration was changed.
    [[nodiscard]] virtual bool SetProxyConfigUsed(const ICommsProxyConfig* proxy, bool alternative) = 0;
    // Reloads the record of that kind; null when none is stored or it does not parse.
    virtual ICommsProxyConfig* GetProxyConfigUsed(bool alternative) = 0;
    // Hand the proxy list to a data-service client or a request of the communications component; nothing
    // happens when either is null.
    virtual void AttachToClient(IDataServiceClient* client) = 0;
    virtual void AttachToRequest(ICommsRequest* request) = 0;
};

class CProxyConfig : public IProxyConfig
{
public:
    // Loads at once; without util or comms nothing is loaded and the instance is not valid.
    CProxyConfig(IConfigUtil* util, ICommsWrapper* comms, bool putLastUsedFirst);
    ~CProxyConfig() override = default;
    CProxyConfig(const CProxyConfig&) = delete;
    CProxyConfig& operator=(const CProxyConfig&) = delete;

    [[nodiscard]] bool IsValid() const override { return m_valid; }
    ICommsProxyList* GetProxyList() const override { return m_proxyList.get(); }
    ICommsProxyConfig* GetExplicitProxy() const override { return m_explicitProxy.get(); }
    ICommsProxyConfig* GetWpadProxy() const override { return m_wpadProxy.get(); }
    [[nodiscard]] bool SetProxyConfigUsed(const ICommsProxyConfig* proxy, bool alternative) override;
    ICommsProxyConfig* GetProxyConfigUsed(bool alternative) override;
    void AttachToClient(IDataServiceClient* client) override;
    void AttachToRequest(ICommsRequest* request) override;

    // Every piece of a ";"-separated proxy text without a ":" gets the device proxy port.
    std::wstring AddDefaultPort(const std::wstring& proxyText) const;

private:
    [[nodiscard]] bool Load();
    [[nodiscard]] bool ApplyLastUsed();
    // False, traced, when the list cannot be read or is empty, or when it is neither enciphered nor JSON.
    [[nodiscard]] bool ReadFallbackList(CMessageObject& document) const;
    [[nodiscard]] bool ParseEntry(const CMessageObject& entry, bool first);
    [[nodiscard]] bool ParseExplicit(const CMessageObject& entry, bool fallback);
    [[nodiscard]] bool AddExplicitRoute(const std::wstring& proxyText, const std::wstring& user,
                                        const std::wstring& password, bool fallback);
    [[nodiscard]] bool IsOwnDeviceId(const std::wstring& deviceId) const;
    CCommsProxyConfig CreateConfig(DWORD mode, const wchar_t* proxyList, const wchar_t* user,
                                   const wchar_t* password, const wchar_t* pacUrl, bool autoDetect,
                                   bool fallback) const;

    ICommsWrapper* m_comms;
    IConfigUtil* m_configUtil;
    CCommsProxyList m_proxyList;
    CCommsProxyConfig m_explicitProxy;
    CCommsProxyConfig m_wpadProxy;
    CCommsProxyConfig m_usedProxy;
    bool m_valid = false;
    bool m_putLastUsedFirst;
    bool m_wpadAllowed = true;
};
