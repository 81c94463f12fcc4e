#pragma once
// Owners for the objects that the communications component hands out: each gives its object back through
// the component's own release operation. The component must outlive the owner.

#include "host/ICertificateTrust.h"
#include "host/ICommsProxy.h"
#include "host/ICommsWrapper.h"

#include <memory>

struct ProxyListRelease
{
    ICommsWrapper* comms = nullptr;
    void operator()(ICommsProxyList* list) const { comms->ReleaseProxyList(list); }
};

struct ProxyConfigRelease
{
    ICommsWrapper* comms = nullptr;
    void operator()(ICommsProxyConfig* config) const { comms->ReleaseProxyConfig(config); }
};

struct CertificateTrustRelease
{
    ICommsWrapper* comms = nullptr;
    void operator()(ICertificateTrust* trust) const { comms->ReleaseCertificateTrust(trust); }
};

struct RequestRelease
{
    ICommsWrapper* comms = nullptr;
    void operator()(ICommsRequest* request) const { comms->ReleaseRequest(request); }
};

struct TrackingRequestRelease
{
    ICommsWrapper* comms = nullptr;
    void operator()(ITrackingRequest* request) const { comms->ReleaseTrackingRequest(&request); }
};

struct ResultRelease
{
    ICommsWrapper* comms = nullptr;
    void operator()(CommsResult* result) const { comms->ReleaseResult(result); }
};

struct DataServiceClientRelease
{
    ICommsWrapper* comms = nullptr;
    void operator()(IDataServiceClient* client) const { comms->ReleaseDataServiceClient(client); }
};

struct BufferRelease
{
    ICommsWrapper* comms = nullptr;
    void operator()(void* buffer) const { comms->ReleaseBuffer(buffer); }
};

using CCommsProxyList = std::unique_ptr<ICommsProxyList, ProxyListRelease>;
using CCommsProxyConfig = std::unique_ptr<ICommsProxyConfig, ProxyConfigRelease>;
using CCommsCertificateTrust = std::unique_ptr<ICertificateTrust, CertificateTrustRelease>;
using CCommsRequest = std::unique_ptr<ICommsRequest, RequestRelease>;
using CCommsTrackingRequest = std::unique_ptr<ITrackingRequest, TrackingRequestRelease>;
using CCommsResult = std::unique_ptr<CommsResult, ResultRelease>;
using CCommsBuffer = std::unique_ptr<void, BufferRelease>;
using CCommsDataServiceClient = std::unique_ptr<IDataServiceClient, DataServiceClientRelease>;
