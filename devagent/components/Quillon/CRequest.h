#pragma once
// The component's request (ICommsRequest): collects headers, routes and trust rules, runs one exchange per
// send and keeps its answer for GetResult.

#include "CHttpExchange.h"
#include "host/ICommsRequest.h"

#include <memory>

class CRequest final : public ICommsRequest
{
public:
    CRequest(HttpTarget target, std::wstring userAgent, std::wstring verb, DWORD flags);
    ~CRequest() override;

    DWORD Send(const wchar_t* contentType, const void* data, DWORD length) override;
    DWORD SendSigned(const wchar_t* contentType, const void* data, DWORD length, DWORD signingOption,
                     const AuthorizationRecord* authorization) override;
    DWORD DownloadToFile(const wchar_t* path) override;
    DWORD GetResult(CommsResult** result) override;
    void Reserved5() override {}
    void SetProxy(ICommsProxyList* proxies) override;
    bool AddHeader(const wchar_t* name, const wchar_t* value) override;
    void Reserved8() override {}
    void* TakeBuffer() override;
    bool GetProxyUsed(ICommsProxyConfig* config) override;
    void Reserved11() override {}
    void SetCertificateTrust(ICertificateTrust* trust) override;

private:
    DWORD Exchange(const wchar_t* contentType, const void* data, DWORD length,
                   const AuthorizationRecord* authorization, const wchar_t* downloadPath);

    HttpExchangeSpec m_spec;
    std::unique_ptr<HttpOutcome> m_outcome;   // the last answer
    std::wstring m_buffer;                    // the last signed send's Authorization value, until taken
    bool m_hasBuffer = false;
};

// The record handed out by GetResult, with the texts and bytes its pointers show.
struct CResultRecord : CommsResult
{
    CResultRecord() : CommsResult() {}
    std::wstring headers;
    std::vector<BYTE> content;
};

// Frees a record that GetResult handed out; false for anything else.
bool ReleaseResultRecord(CommsResult* result);
// Frees a buffer that TakeBuffer handed out; false for anything else.
bool ReleaseRequestBuffer(void* buffer);
