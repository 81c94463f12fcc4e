#pragma once
// Carries a request to the management server and delivers the answer to a response object. Requests,
// responses and proxy settings are shared through std::shared_ptr with the caller.

#include "comms/IRequest.h"
#include "comms/IRequestResponse.h"
#include "network/CProxyConfig.h"

#include <memory>
#include <string>

class IRequestDispatcher
{
public:
    virtual ~IRequestDispatcher() = default;   // slot 0

    // Slot 1: sends the request's body. 0 when the server answered, whatever its HTTP status (the response
    // then holds it); else a Windows or transport error number, and the response keeps what it held.
    // proxyReport, when given, is told which proxy the exchange used.
    [[nodiscard]] virtual DWORD Send(const std::shared_ptr<IRequest>& request, DWORD signingOption,
                       const std::shared_ptr<IRequestResponse>& response,
                       const std::shared_ptr<IProxyConfig>& proxyReport) = 0;

    // Slot 2: sends without a body and writes a 2xx answer's body to path. ERROR_CONTINUE when the server
    // answered with another status (the response then holds status and headers, and path is untouched).
    [[nodiscard]] virtual DWORD Download(const std::shared_ptr<IRequest>& request, const std::wstring& path,
                           const std::shared_ptr<IRequestResponse>& response) = 0;
};
