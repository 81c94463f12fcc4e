// The development agent's communications component: a real HTTP client on WinHTTP behind ICommsWrapper.
// Quillon.dll and QuillonLC.dll are the same code.

#include "CDataServiceClient.h"
#include "CFaults.h"
#include "CObjectRegistry.h"
#include "CProxyObjects.h"
#include "CRequest.h"
#include "CTrackingRequest.h"
#include "CTrustRules.h"
#include "WinHttp.h"
#include "host/ICommsWrapper.h"
#include "platform/TextUtil.h"

#include <new>

#define EXPORT extern "C" __declspec(dllexport)

namespace
{

// Nothing may unwind into the caller's module.
template <typename T, typename F>
T* Make(EObjectKind kind, F&& make) noexcept
{
    try
    {
        return registry::HandOut<T>(make(), kind);
    }
    catch (...)
    {
        return nullptr;
    }
}

template <typename T>
void Free(T* object, EObjectKind kind) noexcept
{
    if (object != nullptr && registry::Take(object, kind))
        delete object;
}

class CCommsWrapper final : public ICommsWrapper
{
public:
    ICommsProxyList* CreateProxyList() override
    {
        return Make<CProxyRouteList>(EObjectKind::ProxyList, [] { return new CProxyRouteList; });
    }

    void ReleaseProxyList(ICommsProxyList* list) override { Free(list, EObjectKind::ProxyList); }

    ICommsProxyConfig* CreateEmptyProxyConfig() override
    {
        return Make<CProxySetting>(EObjectKind::ProxyConfig, [] { return new CProxySetting; });
    }

    ICommsProxyConfig* CreateProxyConfig(DWORD mode, const wchar_t* proxyList, const wchar_t* user,
                                         const wchar_t* password, const wchar_t* reserved, const wchar_t* pacUrl,
                                         bool autoDetect, bool fallback) override
    {
        return Make<CProxySetting>(EObjectKind::ProxyConfig, [&] {
            return new CProxySetting(mode, TextOrEmpty(proxyList), TextOrEmpty(user), TextOrEmpty(password),
                                     TextOrEmpty(reserved), TextOrEmpty(pacUrl), autoDetect, fallback);
        });
    }

    void ReleaseProxyConfig(ICommsProxyConfig* config) override { Free(config, EObjectKind::ProxyConfig); }

    ICommsRequest* OpenRequest(const wchar_t* userAgent, const wchar_t* url, const wchar_t* verb,
                               DWORD flags) override
    {
        if (faults::RefuseRequest())
            return nullptr;
        return Make<CRequest>(EObjectKind::Request, [&]() -> CRequest* {
            HttpTarget target;
            // An empty verb is refused here rather than sent as a malformed request line.
            if (verb == nullptr || *verb == L'\0' || ParseTarget(url, target) != ERROR_SUCCESS)
                return nullptr;
            return new CRequest(std::move(target), TextOrEmpty(userAgent), verb, flags);
        });
    }

    void ReleaseRequest(ICommsRequest* request) override { Free(request, EObjectKind::Request); }

    IDataServiceClient* CreateDataServiceClient(const wchar_t* userAgent, const wchar_t* hostname,
                                                const wchar_t* service, int product, const wchar_t* productVersion,
                                                const wchar_t* deviceId, const AuthorizationRecord* authorization,
                                                const wchar_t* pathPrefix, const wchar_t* siteId) override
    {
        if (faults::RefuseDataServiceClient())
            return nullptr;
        return Make<CDataServiceClient>(EObjectKind::DataServiceClient, [&]() -> CDataServiceClient* {
            DataServiceSettings settings;
            if (!MakeDataServiceSettings(userAgent, hostname, service, product, productVersion, deviceId,
                                         authorization, pathPrefix, siteId, settings))
                return nullptr;
            return new CDataServiceClient(std::move(settings));
        });
    }

    void ReleaseDataServiceClient(IDataServiceClient* client) override
    {
        Free(client, EObjectKind::DataServiceClient);
    }

    void ReleaseBuffer(void* buffer) override { ReleaseRequestBuffer(buffer); }

    void ReleaseResult(CommsResult* result) override { ReleaseResultRecord(result); }

    bool SplitUrl(const wchar_t* url, CommsUrlComponents* components) override
    {
        if (url == nullptr || components == nullptr)
        {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        if (faults::FailSplitUrl())
        {
            ::SetLastError(ERROR_WINHTTP_INVALID_URL);
            return false;
        }
        URL_COMPONENTS parts;
        if (!CrackUrl(url, parts))
            return false;   // WinHttpCrackUrl has set the reason
        CommsUrlComponents split{};
        split.m_scheme = parts.lpszScheme;
        split.m_schemeLength = parts.dwSchemeLength;
        split.m_host = parts.lpszHostName;
        split.m_hostLength = parts.dwHostNameLength;
        split.m_user = parts.lpszUserName;
        split.m_userLength = parts.dwUserNameLength;
        split.m_password = parts.lpszPassword;
        split.m_passwordLength = parts.dwPasswordLength;
        split.m_path = parts.lpszUrlPath;
        split.m_pathLength = parts.dwUrlPathLength;
        split.m_extra = parts.lpszExtraInfo;
        split.m_extraLength = parts.dwExtraInfoLength;
        split.m_schemeKind = static_cast<DWORD>(parts.nScheme);
        split.m_port = parts.nPort;
        *components = split;
        return true;
    }

    ITrackingRequest* CreateTrackingRequest(const wchar_t* url) override
    {
        if (faults::RefuseTrackingRequest())
            return nullptr;
        return Make<CTrackingRequest>(EObjectKind::TrackingRequest, [&]() -> CTrackingRequest* {
            HttpTarget target;
            if (ParseTarget(url, target) != ERROR_SUCCESS)
                return nullptr;
            return new CTrackingRequest(std::move(target));
        });
    }

    void ReleaseTrackingRequest(ITrackingRequest** request) override
    {
        if (request == nullptr)
            return;
        Free(*request, EObjectKind::TrackingRequest);
        *request = nullptr;
    }

    void Reserved15() override {}

    ICertificateTrust* CreateCertificateTrust() override
    {
        return Make<CTrustObject>(EObjectKind::CertificateTrust, [] { return new CTrustObject; });
    }

    void ReleaseCertificateTrust(ICertificateTrust* trust) override { Free(trust, EObjectKind::CertificateTrust); }
};

} // namespace

EXPORT ICommsWrapper* GetICommsWrapper()
{
    if (faults::NoInterface())
        return nullptr;
    return Make<CCommsWrapper>(EObjectKind::Wrapper, [] { return new CCommsWrapper; });
}

EXPORT void FreeICommsWrapper(ICommsWrapper** wrapper)
{
    if (wrapper == nullptr)
        return;
    Free(*wrapper, EObjectKind::Wrapper);
    *wrapper = nullptr;
}

EXPORT DWORD QuillonOutstandingObjects()
{
    return registry::Outstanding();
}
