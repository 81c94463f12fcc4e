#include "network/ProxyAndTrust.h"

#include "host/Trace.h"

TRACE_UNIT("f4172acb-5383-4ae3-9a5d-f132c0249d2a");

namespace
{

template <typename SetProxy, typename SetTrust>
CRequestSettings Attach(IConfigUtil* util, ICommsWrapper* comms, bool withProxy, const std::wstring& url,
                        SetProxy setProxy, SetTrust setTrust)
{
    CRequestSettings settings;
    if (withProxy)
    {
        settings.proxy = std::make_unique<CProxyConfig>(util, comms, false);
        // A list that accepted no route would only make the connection fail.
        if (settings.proxy->IsValid())
            setProxy(settings.proxy->GetProxyList());
        else
            TRACE_WARNING(kTraceFlagEvents, 10, "no proxy routes for %ls", url);
    }
    settings.trust = std::make_unique<CCertificateTrustworthinessConfig>(comms, util);
    if (settings.trust->IsValid())
        setTrust(settings.trust->GetTrustHandle());
    else
        TRACE_WARNING(kTraceFlagEvents, 11, "no certificate trust for %ls", url);
    return settings;
}

} // namespace

CRequestSettings AttachProxyAndTrust(ICommsRequest& request, IConfigUtil* util, ICommsWrapper* comms,
                                     bool withProxy, const std::wstring& url)
{
    return Attach(
        util, comms, withProxy, url, [&](ICommsProxyList* list) { request.SetProxy(list); },
        [&](ICertificateTrust* trust) { request.SetCertificateTrust(trust); });
}

CRequestSettings AttachProxyAndTrust(ITrackingRequest& request, IConfigUtil* util, ICommsWrapper* comms,
                                     const std::wstring& url)
{
    return Attach(
        util, comms, true, url, [&](ICommsProxyList* list) { request.SetProxyConfig(list); },
        [&](ICertificateTrust* trust) { request.SetCertificateTrustConfig(trust); });
}

CRequestSettings AttachProxyAndTrust(IDataServiceClient& client, IConfigUtil* util, ICommsWrapper* comms,
                                     const std::wstring& url)
{
    return Attach(
        util, comms, true, url, [&](ICommsProxyList* list) { client.SetProxy(list); },
        [&](ICertificateTrust* trust) { client.SetCertificateTrust(trust); });
}
