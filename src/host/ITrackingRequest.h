#pragma once
// A tracking hit of the communications component (ICommsWrapper slot 13 creates it for a URL, slot 14
// releases it). Identity strings and parameters are sent as one HTTP request by Send; parameters keep the
// order in which they were added. Texts are wide C strings owned by the caller; the request copies them,
// and copies the routes and rules of the proxy list and trust object it is given.
//
// Shared by the plug-in and the stand-in component; binary contract between modules built by this toolchain.

#include "host/ICertificateTrust.h"
#include "host/ICommsProxy.h"

class ITrackingRequest
{
public:
    virtual ~ITrackingRequest() = default;   // slot 0
    // Slot 1: null texts count as empty.
    virtual void SetIdentity(const wchar_t* s1, const wchar_t* s2, const wchar_t* s3, const wchar_t* s4,
                             const wchar_t* s5, const wchar_t* s6, const wchar_t* s7) = 0;
    virtual void AddParameter(const wchar_t* name, const wchar_t* value) = 0;   // slot 2
    virtual void SetProxyConfig(ICommsProxyList* proxies) = 0;                   // slot 3
    // Slot 4: true when the server answered with a 2xx status. flags: no bit has a meaning yet.
    [[nodiscard]] virtual bool Send(DWORD flags) = 0;
    virtual void SetCertificateTrustConfig(ICertificateTrust* trust) = 0;        // slot 5
};
