#pragma once
// Owners for the objects that the communications component hands out: each gives its object back through
// the component's own release operation. The component must outlive the owner.

#include "host/ICertificateTrust.h"
#include "host/ICommsProxy.h"
#include "host/ICommsWrapper.h"

#include <memory>
#include <type_traits>

// Gives one object back through the component's release operation Release, which takes the object (or, for a
// tracking request, the address of the pointer).
template <typename T, auto Release>
struct CommsRelease
{
    ICommsWrapper* comms = nullptr;
    void operator()(T* object) const
    {
        if constexpr (std::is_invocable_v<decltype(Release), ICommsWrapper*, T*>)
            (comms->*Release)(object);
        else
            (comms->*Release)(&object);
    }
};

using ProxyListRelease = CommsRelease<ICommsProxyList, &ICommsWrapper::ReleaseProxyList>;
using ProxyConfigRelease = CommsRelease<ICommsProxyConfig, &ICommsWrapper::ReleaseProxyConfig>;
using CertificateTrustRelease = CommsRelease<ICertificateTrust, &ICommsWrapper::ReleaseCertificateTrust>;
using RequestRelease = CommsRelease<ICommsRequest, &ICommsWrapper::ReleaseRequest>;
using TrackingRequestRelease = CommsRelease<ITrackingRequest, &ICommsWrapper::ReleaseTrackingRequest>;
using ResultRelease = CommsRelease<CommsResult, &ICommsWrapper::ReleaseResult>;
using DataServiceClientRelease = CommsRelease<IDataServiceClient, &ICommsWrapper::ReleaseDataServiceClient>;
using BufferRelease = CommsRelease<void, &ICommsWrapper::ReleaseBuffer>;

using CCommsProxyList = std::unique_ptr<ICommsProxyList, ProxyListRelease>;
using CCommsProxyConfig = std::unique_ptr<ICommsProxyConfig, ProxyConfigRelease>;
using CCommsCertificateTrust = std::unique_ptr<ICertificateTrust, CertificateTrustRelease>;
using CCommsRequest = std::unique_ptr<ICommsRequest, RequestRelease>;
using CCommsTrackingRequest = std::unique_ptr<ITrackingRequest, TrackingRequestRelease>;
using CCommsResult = std::unique_ptr<CommsResult, ResultRelease>;
using CCommsBuffer = std::unique_ptr<void, BufferRelease>;
using CCommsDataServiceClient = std::unique_ptr<IDataServiceClient, DataServiceClientRelease>;
