#include "network/CCertificateTrustworthinessConfig.h"

#include "host/Trace.h"
#include "message/CMessageObject.h"

TRACE_UNIT("74679ec9-0503-4ccf-9017-e60d750eded0");

namespace
{

constexpr wchar_t kSettingsKey[] = L"Communications.CertificateTrustworthiness.Settings";
constexpr wchar_t kEnabled[] = L"Enabled";
constexpr wchar_t kTrustedByDomain[] = L"TrustedCertificatesByDomain";

} // namespace

CCertificateTrustworthinessConfig::CCertificateTrustworthinessConfig(ICommsWrapper* comms, IConfigUtil* util)
    : CConfigReader(util), m_comms(comms), m_trust(nullptr, CertificateTrustRelease{comms})
{
    m_valid = Load();
}

bool CCertificateTrustworthinessConfig::Load()
{
    if (m_comms != nullptr)
        m_trust.reset(m_comms->CreateCertificateTrust());
    if (!m_trust)
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "certificate trust: no trust object from communications component %p",
                    static_cast<void*>(m_comms));
        return false;
    }

    bool enabled = true;
    Rules rules;
    ReadSettings(enabled, rules);

    m_trust->SetEnabled(enabled);
    for (const auto& [domain, certificates] : rules)
    {
        std::vector<const wchar_t*> texts;
        texts.reserve(certificates.size());
        for (const std::wstring& certificate : certificates)
            texts.push_back(certificate.c_str());
        m_trust->AddTrustedCertificates(domain.c_str(), static_cast<DWORD>(texts.size()), texts.data());
    }
    return true;
}

void CCertificateTrustworthinessConfig::ReadSettings(bool& enabled, Rules& rules) const
{
    CMessageObject settings;
    if (!ReadObject(kSettingsKey, settings))
    {
        TRACE_INFO(kTraceFlagEvents, 11, "certificate trust: no usable %ls, defaults apply", kSettingsKey);
        return;
    }
    settings.GetBool(kEnabled, enabled);

    const CMessageItem* byDomain = nullptr;
    if (!settings.FindItem(kTrustedByDomain, byDomain) || byDomain->m_type != Object ||
        byDomain->m_value.object == nullptr || byDomain->m_value.object->IsArray())
        return;
    for (const CMessageItem& domain : byDomain->m_value.object->Items())
    {
        if (domain.m_type != Object || domain.m_value.object == nullptr)
            continue;
        std::vector<std::wstring>& certificates = rules[domain.m_name];
        for (const CMessageItem& certificate : domain.m_value.object->Items())
        {
            if (certificate.m_type == String && !certificate.m_string.empty())
                certificates.push_back(certificate.m_string);
        }
    }
}

void CCertificateTrustworthinessConfig::AttachTrustToClient(IDataServiceClient* client)
{
    if (client != nullptr && m_trust)
        client->SetCertificateTrust(m_trust.get());
}

void CCertificateTrustworthinessConfig::AttachTrustToRequest(ICommsRequest* request)
{
    if (request != nullptr && m_trust)
        request->SetCertificateTrust(m_trust.get());
}
