#pragma once
// Stand-ins for the communications component and the objects it hands out. Every operation answers
// "nothing" or failure; the stand-ins only note where proxy routes and trust were attached. CStubComms counts
// what it hands out (through HandOut, for the creations a test overrides) and what comes back through its
// release slots: a release of something not handed out, or released twice, is a bad release. Tests derive and
// override only what they need. Safe on several threads.

#include "host/ICommsWrapper.h"

#include <mutex>
#include <set>

class CStubComms : public ICommsWrapper
{
public:
    int Outstanding() const;
    int BadReleases() const;

    ICommsProxyList* CreateProxyList() override { return nullptr; }
    void ReleaseProxyList(ICommsProxyList* list) override { TakeBack(list); }
    ICommsProxyConfig* CreateEmptyProxyConfig() override { return nullptr; }
    ICommsProxyConfig* CreateProxyConfig(DWORD, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                                         const wchar_t*, bool, bool) override
    {
        return nullptr;
    }
    void ReleaseProxyConfig(ICommsProxyConfig* config) override { TakeBack(config); }
    ICommsRequest* OpenRequest(const wchar_t*, const wchar_t*, const wchar_t*, DWORD) override { return nullptr; }
    void ReleaseRequest(ICommsRequest* request) override { TakeBack(request); }
    IDataServiceClient* CreateDataServiceClient(const wchar_t*, const wchar_t*, const wchar_t*, int, const wchar_t*,
                                                const wchar_t*, const AuthorizationRecord*, const wchar_t*,
                                                const wchar_t*) override
    {
        return nullptr;
    }
    void ReleaseDataServiceClient(IDataServiceClient* client) override { TakeBack(client); }
    void ReleaseBuffer(void* buffer) override { TakeBack(buffer); }
    void ReleaseResult(CommsResult* result) override { TakeBack(result); }
    bool SplitUrl(const wchar_t*, CommsUrlComponents*) override { return false; }
    ITrackingRequest* CreateTrackingRequest(const wchar_t*) override { return nullptr; }
    void ReleaseTrackingRequest(ITrackingRequest** request) override;
    void Reserved15() override {}
    ICertificateTrust* CreateCertificateTrust() override { return nullptr; }
    void ReleaseCertificateTrust(ICertificateTrust* trust) override { TakeBack(trust); }

protected:
    // Counts object as handed out (null is not counted) and returns it.
    template <typename T>
    T* HandOut(T* object)
    {
        Note(object);
        return object;
    }
    // Releasing null does nothing, as the component's contract says.
    void TakeBack(const void* object);

private:
    void Note(const void* object);

    mutable std::mutex m_mutex;
    std::multiset<const void*> m_handedOut;
    int m_badReleases = 0;
};

// A component request that sends nothing.
class CStubRequest : public ICommsRequest
{
public:
    ICommsProxyList* proxies = nullptr;
    ICertificateTrust* trust = nullptr;

    DWORD Send(const wchar_t*, const void*, DWORD) override { return ERROR_CALL_NOT_IMPLEMENTED; }
    DWORD SendSigned(const wchar_t*, const void*, DWORD, DWORD, const AuthorizationRecord*) override
    {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    DWORD DownloadToFile(const wchar_t*) override { return ERROR_CALL_NOT_IMPLEMENTED; }
    DWORD GetResult(CommsResult**) override { return ERROR_INVALID_STATE; }
    void Reserved5() override {}
    void SetProxy(ICommsProxyList* list) override { proxies = list; }
    bool AddHeader(const wchar_t*, const wchar_t*) override { return false; }
    void Reserved8() override {}
    void* TakeBuffer() override { return nullptr; }
    bool GetProxyUsed(ICommsProxyConfig*) override { return false; }
    void Reserved11() override {}
    void SetCertificateTrust(ICertificateTrust* t) override { trust = t; }
};

// A tracking hit that is never delivered.
class CStubTrackingRequest : public ITrackingRequest
{
public:
    ICommsProxyList* proxies = nullptr;
    ICertificateTrust* trust = nullptr;

    void SetIdentity(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                     const wchar_t*) override
    {
    }
    void AddParameter(const wchar_t*, const wchar_t*) override {}
    void SetProxyConfig(ICommsProxyList* list) override { proxies = list; }
    bool Send(DWORD) override { return false; }
    void SetCertificateTrustConfig(ICertificateTrust* t) override { trust = t; }
};

// A data-service client that uploads nothing.
class CStubDataServiceClient : public IDataServiceClient
{
public:
    ICommsProxyList* proxies = nullptr;
    ICertificateTrust* trust = nullptr;

    bool UploadFile(const wchar_t*, const wchar_t*, const wchar_t*) override { return false; }
    bool SendToQueue(const wchar_t*, const wchar_t*, const wchar_t*) override { return false; }
    bool UploadToDataContainer(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                               const DataServiceHeaders&) override
    {
        return false;
    }
    void SetProxy(ICommsProxyList* list) override { proxies = list; }
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
    void SetCertificateTrust(ICertificateTrust* t) override { trust = t; }
};
