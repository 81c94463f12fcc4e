#pragma once
// Exchange trace files, for people diagnosing the traffic with the management server: one text file per
// exchange in the "Messages" folder of the agent data folder, named after the request's description and the
// local time ("<description> 2024.05.01 09.03.07.042.log"). A request record first, then for web API sends
// a response record appended to the same file. "Key=value" lines ending in CR LF, in the ANSI code page
// (UTF-16LE when a record does not convert), no byte-order mark.
//
// Tracing never affects the exchange: whatever cannot be written is skipped, and nothing throws. A description holding a
// character that file names refuse (\ / : * ? " < > | or a control character) writes no file at all, so
// that a name taken from a URL never leaves the folder.

#include "comms/IRequest.h"
#include "host/ICommsProxy.h"
#include "host/ICommsRequest.h"

#include <string>

class CExchangeTrace
{
public:
    // Replaces any file of the same name (two exchanges in one millisecond share it) and keeps its path.
    // status (downloads) and proxyUsed may be null.
    void WriteRequestTrace(IRequest& request, const std::wstring& url, DWORD error, const DWORD* status,
                           const ICommsProxyConfig* proxyUsed);
    // Appends to the file of the last request record; nothing when there is none. result may be null.
    void WriteResponseTrace(const CommsResult* result, DWORD error);

    // Empty until a request record was written; cleared when the last one could not be.
    const std::wstring& GetPath() const { return m_path; }

private:
    void WriteRequestRecord(IRequest& request, const std::wstring& url, DWORD error, const DWORD* status,
                            const ICommsProxyConfig* proxyUsed);
    void WriteResponseRecord(const CommsResult* result, DWORD error);

    std::wstring m_path;
};

// "<agent data folder>Messages\", created when missing (one level); "" when the data folder is unknown.
std::wstring ExchangeTraceFolder();
