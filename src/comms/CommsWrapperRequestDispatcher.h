#pragma once
// The request dispatcher over the agent's communications component (Quillon.dll, loaded from the utilities
// folder and kept loaded while the dispatcher lives). Each exchange opens one component request with the
// request's flags plus "no cookies" and "no automatic logon", adds the headers in map order, the proxy
// routes (when asked to), the certificate trust, signs web API bodies with the "Communications"
// authorization and delivers the result record to the response. Every object the component hands out is
// given back on every path.
//
// The server's clock offset, estimated from every answered send, is one value for the whole process; it
// moves the request time that signatures carry. One dispatcher may serve several threads at once; each
// exchange writes its own trace file.

#include "comms/IRequestDispatcher.h"
#include "host/IComponentAccess.h"
#include "host/IConfigUtil.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class CommsWrapperRequestDispatcher : public IRequestDispatcher
{
public:
    // A null configUtil takes the module's: std::invalid_argument("ConfigUtil") when there is none;
    // std::logic_error("Cannot Initialize CommsWrapper") when the component cannot be loaded or gives no
    // interface. traceExchanges writes the exchange trace files; useProxy applies the configured proxy routes.
    // Null components take the installed ones; given ones must outlive the dispatcher.
    CommsWrapperRequestDispatcher(IConfigUtil* configUtil, bool traceExchanges, bool useProxy,
                                  IComponentAccess* components = nullptr);
    CommsWrapperRequestDispatcher(const CommsWrapperRequestDispatcher&) = delete;
    CommsWrapperRequestDispatcher& operator=(const CommsWrapperRequestDispatcher&) = delete;

    [[nodiscard]] DWORD Send(const std::shared_ptr<IRequest>& request, DWORD signingOption,
               const std::shared_ptr<IRequestResponse>& response,
               const std::shared_ptr<IProxyConfig>& proxyReport) override;
    [[nodiscard]] DWORD Download(const std::shared_ptr<IRequest>& request, const std::wstring& path,
                   const std::shared_ptr<IRequestResponse>& response) override;

    // On from construction; off, bodies go out without an authorization record.
    void SetSignRequests(bool sign) { m_signRequests = sign; }
    // The trace file of the latest exchange that wrote one; empty before.
    std::wstring GetTraceFilePath() const;

    // Server time minus local UTC time, in seconds, as the latest answered send showed it.
    static std::int64_t ServerClockOffset();

private:
    class CExchange;

    void RememberTraceFile(const std::wstring& path);

    IConfigUtil* m_configUtil;
    bool m_traceExchanges;
    bool m_useProxy;
    bool m_signRequests = true;
    CComponentUse<ICommsWrapper> m_comms;
    mutable std::mutex m_traceFileMutex;
    std::wstring m_traceFilePath;
};
