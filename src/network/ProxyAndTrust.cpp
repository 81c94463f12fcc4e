#include "network/ProxyAndTrust.h"

#include "host/Trace.h"
#include "network/CCertificateTrustworthinessConfig.h"
#include "network/CProxyConfig.h"

TRACE_UNIT("f4172acb-5383-4ae3-9a5d-f132c0249d2a");

namespace
{

template <typename SetProxy, typename SetTrust>
void Attach(IConfigUtil* util, ICommsWrapper* comms, bool withProxy, const std::wstring& url, SetProxy setProxy,
            SetTrust setTrust)
{
    if (withProxy)
    {
        // A list that accepted no route would only make the connection fail.
        const CProxyConfig proxy(util, comms, false);
        if (proxy.IsValid())
            setProxy(proxy.GetProxyList());
        else
            TRACE_WARNING(kTraceFlagEvents, 10, "no proxy routes for %ls", url);
    }
    const CCertificateTrustworthinessConfig trust(comms, util);
    if (trust.IsValid())
        setTrust(trust.GetTrustHandle());
    else
        TRACE_WARNING(kTraceFlagEvents, 11, "no certificate trust for %ls", url);
}

} // namespace

void AttachProxyAndTrust(ICommsRequest& request, IConfigUtil* util, ICommsWrapper* comms, bool withProxy,
                         const std::wstring& url)
{
    Attach(
        util, comms, withProxy, url, [&](ICommsProxyList* list) { request.SetProxy(list); },
        [&](ICertificateTrust* trust) { request.SetCertificateTrust(trust); });
}

void AttachProxyAndTrust(ITrackingRequest& request, IConfigUtil* util, ICommsWrapper* comms,
                         const std::wstring& url)
{
    Attach(
        util, comms, true, url, [&](ICommsProxyList* list) { request.SetProxyConfig(list); },
        [&](ICertificateTrust* trust) { request.SetCertificateTrustConfig(trust); });
}
