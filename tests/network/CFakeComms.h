#pragma once
// A recording communications component: its proxy lists note every route as one line of text, its objects
// count creations and releases, and any creation can be made to fail. Slots the settings objects do not
// call have trivial bodies.

#include "host/ICertificateTrust.h"
#include "host/ICommsProxy.h"
#include "host/ICommsWrapper.h"

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
    bool released = false;

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
    bool released = false;

    bool AddDirect(bool fallback) override;
    bool AddExplicit(const wchar_t* proxyList, const wchar_t* user, const wchar_t* password,
                     const wchar_t* reserved, bool fallback) override;
    bool AddPac(const wchar_t* pacUrl, const wchar_t* user, const wchar_t* password, DWORD reserved1,
                DWORD reserved2, bool fallback) override;
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
    bool released = false;

    void SetEnabled(bool enabled) override { enabledCalls.push_back(enabled); }
    void AddTrustedCertificates(const wchar_t* domain, DWORD count, const wchar_t* const* certificates) override;
};

// Stands in for a component request and a data-service client at once; records what was attached.
class CFakeTarget
{
public:
    ICommsProxyList* proxies = nullptr;
    ICertificateTrust* trust = nullptr;

    ICommsRequest* Request() { return &m_request; }
    IDataServiceClient* Client() { return &m_client; }

private:
    struct RequestView : ICommsRequest
    {
        explicit RequestView(CFakeTarget& owner) : owner(owner) {}
        CFakeTarget& owner;
        DWORD Send(const wchar_t*, const void*, DWORD) override { return ERROR_CALL_NOT_IMPLEMENTED; }
        DWORD SendSigned(const wchar_t*, const void*, DWORD, DWORD, const AuthorizationRecord*) override
        {
            return ERROR_CALL_NOT_IMPLEMENTED;
        }
        DWORD DownloadToFile(const wchar_t*) override { return ERROR_CALL_NOT_IMPLEMENTED; }
        DWORD GetResult(CommsResult**) override { return ERROR_CALL_NOT_IMPLEMENTED; }
        void Reserved5() override {}
        void SetProxy(ICommsProxyList* list) override { owner.proxies = list; }
        bool AddHeader(const wchar_t*, const wchar_t*) override { return false; }
        void Reserved8() override {}
        void* TakeBuffer() override { return nullptr; }
        bool GetProxyUsed(ICommsProxyConfig*) override { return false; }
        void Reserved11() override {}
        void SetCertificateTrust(ICertificateTrust* t) override { owner.trust = t; }
    };
    struct ClientView : IDataServiceClient
    {
        explicit ClientView(CFakeTarget& owner) : owner(owner) {}
        CFakeTarget& owner;
        bool UploadFile(const wchar_t*, const wchar_t*, const wchar_t*) override { return false; }
        bool SendToQueue(const wchar_t*, const wchar_t*, const wchar_t*) override { return false; }
        bool UploadToDataContainer(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                                   const DataServiceHeaders&) override
        {
            return false;
        }
        void SetProxy(ICommsProxyList* list) override { owner.proxies = list; }
        void Reserved5() override {}
        void Reserved6() override {}
        void Reserved7() override {}
        void Reserved8() override {}
        void Reserved9() override {}
        void Reserved10() override {}
        void Reserved11() override {}
        void Reserved12() override {}
        void Reserved13() override {}
        void Reserved14() override {}
        void SetCertificateTrust(ICertificateTrust* t) override { owner.trust = t; }
    };
    RequestView m_request{*this};
    ClientView m_client{*this};
};

class CFakeComms : public ICommsWrapper
{
public:
    bool failProxyList = false;
    bool failProxyConfig = false;
    bool failTrust = false;
    bool listAccepts = true;

    std::vector<std::unique_ptr<CFakeProxyList>> lists;
    std::vector<std::unique_ptr<CFakeProxyConfig>> configs;
    std::vector<std::unique_ptr<CFakeTrust>> trusts;

    // Objects handed out and not yet released; a release of something never handed out counts as a fault.
    int Outstanding() const;
    int BadReleases() const { return m_badReleases; }

    ICommsProxyList* CreateProxyList() override;
    void ReleaseProxyList(ICommsProxyList* list) override;
    ICommsProxyConfig* CreateEmptyProxyConfig() override;
    ICommsProxyConfig* CreateProxyConfig(DWORD mode, const wchar_t* proxyList, const wchar_t* user,
                                         const wchar_t* password, const wchar_t* reserved, const wchar_t* pacUrl,
                                         bool autoDetect, bool fallback) override;
    void ReleaseProxyConfig(ICommsProxyConfig* config) override;
    ICommsRequest* OpenRequest(const wchar_t*, const wchar_t*, const wchar_t*, DWORD) override { return nullptr; }
    void ReleaseRequest(ICommsRequest*) override {}
    IDataServiceClient* CreateDataServiceClient(const wchar_t*, const wchar_t*, const wchar_t*, int,
                                                const wchar_t*, const wchar_t*, const AuthorizationRecord*,
                                                const wchar_t*, const wchar_t*) override
    {
        return nullptr;
    }
    void ReleaseDataServiceClient(IDataServiceClient*) override {}
    void ReleaseBuffer(void*) override {}
    void ReleaseResult(CommsResult*) override {}
    bool SplitUrl(const wchar_t*, CommsUrlComponents*) override { return false; }
    ITrackingRequest* CreateTrackingRequest(const wchar_t*) override { return nullptr; }
    void ReleaseTrackingRequest(ITrackingRequest**) override {}
    void Reserved15() override {}
    ICertificateTrust* CreateCertificateTrust() override;
    void ReleaseCertificateTrust(ICertificateTrust* trust) override;

private:
    int m_badReleases = 0;
};
