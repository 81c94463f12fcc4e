#pragma once
// The communications component (Quillon.dll / QuillonLC.dll, exports "GetICommsWrapper" and
// "FreeICommsWrapper"). Every object it hands out is released through its release slot by its creator;
// releasing null does nothing. The interface stays valid while the library is loaded.
//
// Shared by the plug-in and the stand-in component; binary contract between modules built by this toolchain.

#include "host/AuthorizationRecord.h"
#include "host/CommsUrlComponents.h"
#include "host/ICertificateTrust.h"
#include "host/ICommsProxy.h"
#include "host/ICommsRequest.h"
#include "host/IDataServiceClient.h"
#include "host/ITrackingRequest.h"

// An object of the component where its kind does not matter (a request or a client to attach settings to).
using CommsHandle = void*;

class ICommsWrapper
{
public:
    virtual ~ICommsWrapper() = default;                                                      // slot 0
    virtual ICommsProxyList* CreateProxyList() = 0;                                          // slot 1
    virtual void ReleaseProxyList(ICommsProxyList* list) = 0;                                // slot 2
    virtual ICommsProxyConfig* CreateEmptyProxyConfig() = 0;                                 // slot 3
    // Slot 4: mode kProxyModeExplicit or kProxyModeWpad (0: a direct connection).
    virtual ICommsProxyConfig* CreateProxyConfig(DWORD mode, const wchar_t* proxyList, const wchar_t* user,
                                                 const wchar_t* password, const wchar_t* reserved,
                                                 const wchar_t* pacUrl, bool autoDetect, bool fallback) = 0;
    virtual void ReleaseProxyConfig(ICommsProxyConfig* config) = 0;                          // slot 5
    // Slot 6: flags are the kRequest* bits of ICommsRequest.h. Null for a URL that is not http or https.
    virtual ICommsRequest* OpenRequest(const wchar_t* userAgent, const wchar_t* url, const wchar_t* verb,
                                       DWORD flags) = 0;
    virtual void ReleaseRequest(ICommsRequest* request) = 0;                                 // slot 7
    // Slot 8: the client keeps a copy of the authorization record.
    virtual IDataServiceClient* CreateDataServiceClient(const wchar_t* userAgent, const wchar_t* hostname,
                                                        const wchar_t* service, int product,
                                                        const wchar_t* productVersion, const wchar_t* deviceId,
                                                        const AuthorizationRecord* authorization,
                                                        const wchar_t* pathPrefix, const wchar_t* siteId) = 0;
    virtual void ReleaseDataServiceClient(IDataServiceClient* client) = 0;                  // slot 9
    virtual void ReleaseBuffer(void* buffer) = 0;                                            // slot 10
    virtual void ReleaseResult(CommsResult* result) = 0;                                     // slot 11
    // Slot 12: false with the reason in GetLastError.
    [[nodiscard]] virtual bool SplitUrl(const wchar_t* url, CommsUrlComponents* components) = 0;
    virtual ITrackingRequest* CreateTrackingRequest(const wchar_t* url) = 0;                 // slot 13
    virtual void ReleaseTrackingRequest(ITrackingRequest** request) = 0;                     // slot 14: clears
    virtual void Reserved15() = 0;
    virtual ICertificateTrust* CreateCertificateTrust() = 0;                                 // slot 16
    virtual void ReleaseCertificateTrust(ICertificateTrust* trust) = 0;                      // slot 17
};

using GetICommsWrapperFn = ICommsWrapper* (*)();
using FreeICommsWrapperFn = void (*)(ICommsWrapper** wrapper);
// Quillon's own extra export: objects handed out and not yet given back (the interface included).
using QuillonOutstandingObjectsFn = DWORD (*)();
