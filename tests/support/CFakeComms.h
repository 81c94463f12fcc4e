#pragma once
// A recording communications component: its proxy lists note every route as one line of text, its
// configurations and trust objects keep what they were made with, and any creation can be made to fail.
// Everything else answers as CStubComms does.

#include "CStubComms.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class CFakeProxyConfig : public ICommsProxyConfig
{
public:
    DWORD mode = 0;
    std::wstring proxyList, user, password, wpadUrl, reserved;
    bool autoDetect = false;
    bool fallback = false;

    DWORD GetMode() const override { return mode; }
    const wchar_t* GetProxyList() const override { return proxyList.c_str(); }
    const wchar_t* GetUser() const override { return user.c_str(); }
    const wchar_t* GetPassword() const override { return password.c_str(); }
    const wchar_t* GetWpadUrl() const override { return wpadUrl.c_str(); }
    const wchar_t* GetReserved() const override { return reserved.c_str(); }
    bool GetAutoDetect() const override { return autoDetect; }
    bool GetFallback() const override { return fallback; }
    void Reserved9() override {}
    bool Equals(const ICommsProxyConfig* other) const override;

    // "mode|list|user|password|wpad|auto|fallback"
    std::wstring Describe() const;
};

class CFakeProxyList : public ICommsProxyList
{
public:
    std::vector<std::wstring> routes;
    bool accept = true;

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
};

class CFakeTrust : public ICertificateTrust
{
public:
    std::vector<bool> enabledCalls;
    std::vector<std::pair<std::wstring, std::vector<std::wstring>>> added;

    void SetEnabled(bool enabled) override { enabledCalls.push_back(enabled); }
    void AddTrustedCertificates(const wchar_t* domain, DWORD count, const wchar_t* const* certificates) override;
};

class CFakeComms : public CStubComms
{
public:
    bool failProxyList = false;
    bool failTrust = false;
    bool listAccepts = true;

    std::vector<std::unique_ptr<CFakeProxyList>> lists;
    std::vector<std::unique_ptr<CFakeProxyConfig>> configs;
    std::vector<std::unique_ptr<CFakeTrust>> trusts;

    ICommsProxyList* CreateProxyList() override;
    ICommsProxyConfig* CreateEmptyProxyConfig() override { return Keep(configs, false); }
    ICommsProxyConfig* CreateProxyConfig(DWORD mode, const wchar_t* proxyList, const wchar_t* user,
                                         const wchar_t* password, const wchar_t* reserved, const wchar_t* pacUrl,
                                         bool autoDetect, bool fallback) override;
    ICertificateTrust* CreateCertificateTrust() override { return Keep(trusts, failTrust); }

private:
    // A new object kept in `kept` and handed out; null when the creation is to fail.
    template <typename T>
    T* Keep(std::vector<std::unique_ptr<T>>& kept, bool fail)
    {
        if (fail)
            return nullptr;
        kept.push_back(std::make_unique<T>());
        return HandOut(kept.back().get());
    }
};
