#pragma once
// The configured proxy routes and certificate trust, attached to one request of the communications component
// (an exchange, a tracking hit or a data-service client). Both are read afresh for each request. The request is given the
// component's own objects, which it may refer to until it is released: the caller keeps the settings returned
// until then. What cannot be attached is traced, and the request goes out without it. util and comms must not
// be null.

#include "host/ICommsWrapper.h"
#include "host/IConfigUtil.h"
#include "network/CCertificateTrustworthinessConfig.h"
#include "network/CProxyConfig.h"

#include <memory>
#include <string>

struct CRequestSettings
{
    std::unique_ptr<CProxyConfig> proxy;   // null when the request takes the component's default route
    std::unique_ptr<CCertificateTrustworthinessConfig> trust;
};

// withProxy false attaches the trust only (the request takes the component's default route).
[[nodiscard]] CRequestSettings AttachProxyAndTrust(ICommsRequest& request, IConfigUtil* util, ICommsWrapper* comms,
                                                   bool withProxy, const std::wstring& url);
[[nodiscard]] CRequestSettings AttachProxyAndTrust(ITrackingRequest& request, IConfigUtil* util,
                                                   ICommsWrapper* comms, const std::wstring& url);
// A data-service client; it refers to what it is given until it is released.
[[nodiscard]] CRequestSettings AttachProxyAndTrust(IDataServiceClient& client, IConfigUtil* util, ICommsWrapper* comms,
                                                   const std::wstring& url);
