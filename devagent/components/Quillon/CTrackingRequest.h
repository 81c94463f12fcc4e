#pragma once
// A tracking hit: one GET of the URL with the identity strings and the parameters appended to its query
// (README).

#include "CHttpExchange.h"
#include "host/ITrackingRequest.h"

class CTrackingRequest final : public ITrackingRequest
{
public:
    explicit CTrackingRequest(HttpTarget target) { m_spec.target = std::move(target); }

    void SetIdentity(const wchar_t* s1, const wchar_t* s2, const wchar_t* s3, const wchar_t* s4, const wchar_t* s5,
                     const wchar_t* s6, const wchar_t* s7) override;
    void AddParameter(const wchar_t* name, const wchar_t* value) override;
    void SetProxyConfig(ICommsProxyList* proxies) override;
    bool Send(DWORD flags) override;
    void SetCertificateTrustConfig(ICertificateTrust* trust) override;

private:
    HttpExchangeSpec m_spec;
    std::vector<std::wstring> m_identity;
    std::vector<std::pair<std::wstring, std::wstring>> m_parameters;
};
