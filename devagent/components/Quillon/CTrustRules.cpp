#include "CTrustRules.h"

#include "CObjectRegistry.h"
#include "WireText.h"
#include "platform/Digest.h"
#include "platform/Encoding.h"

#include <cwctype>
#include <new>

namespace
{

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring WithoutArmour(const std::wstring& text)
{
    std::wstring out;
    for (size_t at = 0; at < text.size();)
    {
        size_t end = text.find_first_of(L"\r\n", at);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring line = text.substr(at, end - at);
        if (line.compare(0, 5, L"-----") != 0)
            for (wchar_t c : line)
                if (!std::iswspace(c))
                    out += c;
        at = end + 1;
    }
    return out;
}

std::wstring HexDigits(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text)
        if (c != L':' && !std::iswspace(c))
            out += static_cast<wchar_t>(std::towlower(c));
    return out;
}

std::wstring Widen(const char* text, DWORD length)
{
    return std::wstring(text, text + length);
}

} // namespace

std::vector<std::wstring> TrustRules::For(const std::wstring& host) const
{
    std::vector<std::wstring> trusted;
    if (!enabled)
        return trusted;
    const std::wstring name = Lower(host);
    for (const auto& [domain, certificates] : byDomain)
    {
        const bool matches = name == domain || (name.size() > domain.size() &&
                                                name.compare(name.size() - domain.size(), domain.size(), domain) == 0 &&
                                                name[name.size() - domain.size() - 1] == L'.');
        if (matches)
            trusted.insert(trusted.end(), certificates.begin(), certificates.end());
    }
    return trusted;
}

bool IsTrustedCertificate(PCCERT_CONTEXT certificate, const std::vector<std::wstring>& trusted)
{
    if (certificate == nullptr || trusted.empty())
        return false;
    std::wstring sha256;
    // Without a digest the text stays empty and matches no rule.
    static_cast<void>(Sha256HexOfBuffer(certificate->pbCertEncoded, certificate->cbCertEncoded, sha256));
    std::wstring sha1;
    BYTE hash[20];
    DWORD hashLength = sizeof(hash);
    if (::CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &hashLength))
    {
        char hex[41];
        DWORD capacity = sizeof(hex);
        if (HexEncode(hash, hashLength, hex, &capacity))
            sha1 = Widen(hex, capacity);
    }
    const std::string base64 = Base64Of(certificate->pbCertEncoded, certificate->cbCertEncoded);
    const std::wstring der(base64.begin(), base64.end());

    for (const std::wstring& text : trusted)
    {
        const std::wstring digits = HexDigits(text);
        if ((!sha256.empty() && digits == sha256) || (!sha1.empty() && digits == sha1))
            return true;
        if (!der.empty() && WithoutArmour(text) == der)
            return true;
    }
    return false;
}

void CTrustObject::AddTrustedCertificates(const wchar_t* domain, DWORD count, const wchar_t* const* certificates)
{
    if (domain == nullptr || *domain == L'\0' || certificates == nullptr)
        return;
    try
    {
        std::wstring name = Lower(domain);
        if (name.compare(0, 2, L"*.") == 0)
            name.erase(0, 2);
        auto& list = m_rules.byDomain[name];
        for (DWORD i = 0; i < count; ++i)
            if (certificates[i] != nullptr && *certificates[i] != L'\0')
                list.emplace_back(certificates[i]);
    }
    catch (const std::bad_alloc&)
    {
        // The rules stay as far as they were added; a host without them keeps the usual check.
    }
}

bool RulesOf(ICertificateTrust* trust, TrustRules& rules)
{
    if (trust == nullptr || !registry::IsOut(trust, EObjectKind::CertificateTrust))
        return false;
    rules = static_cast<CTrustObject*>(trust)->Rules();
    return true;
}
