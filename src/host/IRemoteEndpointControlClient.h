#pragma once
// The network service component's client (Fenrik.dll): carries a JSON request to another agent's repository.
// Obtained with GetIRemoteEndpointControlClient, given back with FreeIRemoteEndpointControlClient.
//
// Shared by the plug-in and the stand-in component; binary contract as in IPlugin.h.

#include "platform/Win.h"

class IRemoteEndpointControlClient
{
public:
    virtual ~IRemoteEndpointControlClient() = default;                              // slot 0
    // True when the agent at address (host name or address) accepted the request.
    virtual bool SendRequest(const wchar_t* address, const wchar_t* jsonText) = 0;  // slot 1
};
