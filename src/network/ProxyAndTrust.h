#pragma once
// The configured proxy routes and certificate trust, attached to one request of the communications component
// (an exchange or a tracking hit). Both are read afresh for each request and given back before the call
// returns: the request keeps copies of what it is given. What cannot be attached is traced, and the request
// goes out without it. util and comms must not be null.

#include "host/ICommsWrapper.h"
#include "host/IConfigUtil.h"

#include <string>

// withProxy false attaches the trust only (the request takes the component's default route).
void AttachProxyAndTrust(ICommsRequest& request, IConfigUtil* util, ICommsWrapper* comms, bool withProxy,
                         const std::wstring& url);
void AttachProxyAndTrust(ITrackingRequest& request, IConfigUtil* util, ICommsWrapper* comms,
                         const std::wstring& url);
