#pragma once
// Extra server certificates to trust, per domain. A request that carries the rules and fails the usual
// certificate check of an HTTPS server is tried once more with the check relaxed, and the server's
// certificate must then be one of those trusted for the host (see README).

#include "host/ICertificateTrust.h"

#include <wincrypt.h>

#include <map>
#include <string>
#include <vector>

struct TrustRules
{
    bool enabled = true;
    std::map<std::wstring, std::vector<std::wstring>> byDomain;   // domain in lower case

    // The certificates trusted for host: its own domain and every parent domain; none when disabled.
    std::vector<std::wstring> For(const std::wstring& host) const;
};

// True when certificate matches one of the texts: its SHA-256 or SHA-1 thumbprint in hexadecimal (any
// case, ":" and blanks allowed between the digits) or its DER bytes in Base64 (PEM armour allowed).
bool IsTrustedCertificate(PCCERT_CONTEXT certificate, const std::vector<std::wstring>& trusted);

class CTrustObject final : public ICertificateTrust
{
public:
    void SetEnabled(bool enabled) override { m_rules.enabled = enabled; }
    void AddTrustedCertificates(const wchar_t* domain, DWORD count, const wchar_t* const* certificates) override;

    const TrustRules& Rules() const { return m_rules; }

private:
    TrustRules m_rules;
};

// The rules of a trust object this component handed out; none for null or anything else.
bool RulesOf(ICertificateTrust* trust, TrustRules& rules);
