#pragma once
// The communications component (Quillon.dll / QuillonLC.dll, exports "GetICommsWrapper" and
// "FreeICommsWrapper"). The objects it hands out stay opaque handles here; the code that uses each of them
// gives it its interface. Every object is released through its release slot by its creator.
// Shared by the plug-in and the stand-in component; binary contract as in IPlugin.h.

#include "platform/Win.h"

using CommsHandle = void*;

class ICommsWrapper
{
public:
    virtual ~ICommsWrapper() = default;                                                      // slot 0
    virtual CommsHandle CreateProxyList() = 0;                                               // slot 1
    virtual void ReleaseProxyList(CommsHandle list) = 0;                                     // slot 2
    virtual CommsHandle CreateEmptyProxyConfig() = 0;                                        // slot 3
    virtual CommsHandle CreateProxyConfig(DWORD mode, const wchar_t* proxyList, const wchar_t* user,
                                          const wchar_t* password, const wchar_t* reserved,
                                          const wchar_t* pacUrl, bool autoDetect, bool fallback) = 0;   // slot 4
    virtual void ReleaseProxyConfig(CommsHandle config) = 0;                                 // slot 5
    virtual CommsHandle OpenRequest(const wchar_t* userAgent, const wchar_t* url, const wchar_t* verb,
                                    DWORD flags) = 0;                                         // slot 6
    virtual void ReleaseRequest(CommsHandle request) = 0;                                    // slot 7
    virtual CommsHandle CreateDataServiceClient(const wchar_t* userAgent, const wchar_t* hostname,
                                                const wchar_t* service, DWORD product,
                                                const wchar_t* productVersion, const wchar_t* deviceId,
                                                const void* authorization, const wchar_t* pathPrefix,
                                                const wchar_t* siteId) = 0;                  // slot 8
    virtual void ReleaseDataServiceClient(CommsHandle client) = 0;                           // slot 9
    virtual void ReleaseBuffer(void* buffer) = 0;                                            // slot 10
    virtual void ReleaseResult(CommsHandle result) = 0;                                      // slot 11
    // Slot 12: components is a zeroed 64-byte record that receives the URL's parts.
    virtual bool SplitUrl(const wchar_t* url, void* components) = 0;
    virtual CommsHandle CreateTrackingRequest(const wchar_t* url) = 0;                       // slot 13
    virtual void ReleaseTrackingRequest(CommsHandle* request) = 0;                           // slot 14
    virtual void Reserved15() = 0;
    virtual CommsHandle CreateCertificateTrust() = 0;                                        // slot 16
    virtual void ReleaseCertificateTrust(CommsHandle trust) = 0;                             // slot 17
};

using GetICommsWrapperFn = ICommsWrapper* (*)();
using FreeICommsWrapperFn = void (*)(ICommsWrapper** wrapper);
