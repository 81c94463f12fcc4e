#include "CTrackingRequest.h"

#include "WireText.h"
#include "host/ICommsRequest.h"
#include "platform/TextUtil.h"

#include <new>

namespace
{

constexpr wchar_t kUserAgent[] = L"Quillon";

} // namespace

void CTrackingRequest::SetIdentity(const wchar_t* s1, const wchar_t* s2, const wchar_t* s3, const wchar_t* s4,
                                   const wchar_t* s5, const wchar_t* s6, const wchar_t* s7)
{
    try
    {
        m_identity = {TextOrEmpty(s1), TextOrEmpty(s2), TextOrEmpty(s3), TextOrEmpty(s4),
                      TextOrEmpty(s5), TextOrEmpty(s6), TextOrEmpty(s7)};
    }
    catch (const std::bad_alloc&)
    {
        m_identity.clear();
    }
}

void CTrackingRequest::AddParameter(const wchar_t* name, const wchar_t* value)
{
    if (name == nullptr || *name == L'\0')
        return;
    try
    {
        m_parameters.emplace_back(name, TextOrEmpty(value));
    }
    catch (const std::bad_alloc&)
    {
    }
}

void CTrackingRequest::SetProxyConfig(ICommsProxyList* proxies)
{
    try
    {
        m_spec.routes = RoutesOf(proxies);
    }
    catch (const std::bad_alloc&)
    {
        m_spec.routes.clear();
    }
}

void CTrackingRequest::SetCertificateTrustConfig(ICertificateTrust* trust)
{
    try
    {
        TrustRules rules;
        if (RulesOf(trust, rules))
            m_spec.trust = std::move(rules);
    }
    catch (const std::bad_alloc&)
    {
    }
}

bool CTrackingRequest::Send(DWORD)
{
    try
    {
        HttpExchangeSpec plan = m_spec;
        plan.verb = L"GET";
        plan.userAgent = kUserAgent;
        plan.flags = kRequestNoCookies | kRequestNoAutoLogon | kRequestReload;
        std::wstring& target = plan.target.pathAndQuery;
        bool first = target.find(L'?') == std::wstring::npos;
        auto append = [&](const std::wstring& name, const std::wstring& value) {
            target += first ? L'?' : L'&';
            target += PercentEncode(name, false) + L"=" + PercentEncode(value, false);
            first = false;
        };
        for (size_t i = 0; i < m_identity.size(); ++i)
            append(L"_id" + std::to_wstring(i + 1), m_identity[i]);
        for (const auto& [name, value] : m_parameters)
            append(name, value);
        HttpOutcome outcome;
        return RunExchange(plan, outcome) == ERROR_SUCCESS && outcome.status >= 200 && outcome.status <= 299;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}
