#include "CRequest.h"

#include "CObjectRegistry.h"
#include "Signing.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace
{

bool IsHeaderText(const wchar_t* text, bool name)
{
    if (text == nullptr || (name && *text == L'\0'))
        return false;
    for (const wchar_t* at = text; *at != L'\0'; ++at)
        if (*at == L'\r' || *at == L'\n' || (name && *at == L':'))
            return false;
    return true;
}

bool HasHeader(const HttpHeaders& headers, const wchar_t* name)
{
    for (const auto& header : headers)
        if (::lstrcmpiW(header.first.c_str(), name) == 0)
            return true;
    return false;
}

// Buffers are wide C strings; the registry knows them by the address of their first character.
wchar_t* NewBuffer(const std::wstring& text)
{
    auto* buffer = new (std::nothrow) wchar_t[text.size() + 1];
    if (buffer == nullptr)
        return nullptr;
    std::wmemcpy(buffer, text.c_str(), text.size() + 1);
    if (!registry::Add(buffer, EObjectKind::Buffer))
    {
        delete[] buffer;
        return nullptr;
    }
    return buffer;
}

} // namespace

CRequest::CRequest(HttpTarget target, std::wstring userAgent, std::wstring verb, DWORD flags)
{
    m_spec.target = std::move(target);
    m_spec.userAgent = std::move(userAgent);
    m_spec.verb = std::move(verb);
    m_spec.flags = flags;
}

CRequest::~CRequest() = default;

bool CRequest::AddHeader(const wchar_t* name, const wchar_t* value)
{
    // A CR or LF would let a caller's value start a header (or a request) of its own.
    if (!IsHeaderText(name, true) || !IsHeaderText(value, false))
        return false;
    try
    {
        m_spec.headers.emplace_back(name, value);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

void CRequest::SetProxy(ICommsProxyList* proxies)
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

void CRequest::SetCertificateTrust(ICertificateTrust* trust)
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

DWORD CRequest::Exchange(const wchar_t* contentType, const void* data, DWORD length,
                         const AuthorizationRecord* authorization, const wchar_t* downloadPath)
{
    if (data == nullptr && length != 0)
        return ERROR_INVALID_PARAMETER;
    try
    {
        HttpExchangeSpec plan = m_spec;
        plan.body = data;
        plan.bodyLength = length;
        if (downloadPath != nullptr)
            plan.downloadPath = downloadPath;
        if (contentType != nullptr && *contentType != L'\0' && !HasHeader(plan.headers, L"Content-Type"))
        {
            if (!IsHeaderText(contentType, false))
                return ERROR_INVALID_PARAMETER;
            plan.headers.emplace_back(L"Content-Type", contentType);
        }
        if (authorization != nullptr)
        {
            std::wstring bodyHash;
            SignatureHeaders signature;
            if (!BodyHashOfBytes(data, length, bodyHash) ||
                !SignRequest(*authorization, plan.verb, plan.target.pathAndQuery, bodyHash, signature))
                return ERROR_INVALID_DATA;
            plan.headers.emplace_back(L"Authorization", signature.authorization);
            plan.headers.emplace_back(kSignatureDateHeader, signature.date);
            m_buffer = signature.authorization;
            m_hasBuffer = true;
        }
        auto outcome = std::make_unique<HttpOutcome>();
        const DWORD error = RunExchange(plan, *outcome);
        if (error == ERROR_SUCCESS || error == ERROR_CONTINUE)
            m_outcome = std::move(outcome);
        else
            m_outcome.reset();
        return error;
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD CRequest::Send(const wchar_t* contentType, const void* data, DWORD length)
{
    return Exchange(contentType, data, length, nullptr, nullptr);
}

DWORD CRequest::SendSigned(const wchar_t* contentType, const void* data, DWORD length, DWORD,
                           const AuthorizationRecord* authorization)
{
    if (authorization == nullptr)
        return ERROR_INVALID_PARAMETER;
    return Exchange(contentType, data, length, authorization, nullptr);
}

DWORD CRequest::DownloadToFile(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
        return ERROR_INVALID_PARAMETER;
    return Exchange(nullptr, nullptr, 0, nullptr, path);
}

DWORD CRequest::GetResult(CommsResult** result)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!m_outcome)
        return ERROR_INVALID_STATE;
    auto* copy = new (std::nothrow) CResultRecord;
    if (copy == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    try
    {
        copy->headers = m_outcome->rawHeaders;
        copy->content = m_outcome->content;
    }
    catch (const std::bad_alloc&)
    {
        delete copy;
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    CommsResult& record = *copy;
    record.m_size = kCommsResultSize;
    record.m_status = m_outcome->status;
    record.m_headers = copy->headers.empty() ? nullptr : copy->headers.c_str();
    record.m_content = copy->content.empty() ? nullptr : copy->content.data();
    record.m_contentLength = static_cast<DWORD>(copy->content.size());
    record.m_time = m_outcome->time;
    if (!registry::Add(&record, EObjectKind::Result))
    {
        delete copy;
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    *result = &record;
    return ERROR_SUCCESS;
}

void* CRequest::TakeBuffer()
{
    if (!m_hasBuffer)
        return nullptr;
    m_hasBuffer = false;
    return NewBuffer(m_buffer);
}

bool CRequest::GetProxyUsed(ICommsProxyConfig* config)
{
    if (!m_outcome || config == nullptr || !registry::IsOut(config, EObjectKind::ProxyConfig))
        return false;
    try
    {
        static_cast<CProxySetting*>(config)->Assign(m_outcome->used);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool ReleaseResultRecord(CommsResult* result)
{
    if (result == nullptr || !registry::Take(result, EObjectKind::Result))
        return false;
    delete static_cast<CResultRecord*>(result);
    return true;
}

bool ReleaseRequestBuffer(void* buffer)
{
    if (buffer == nullptr || !registry::Take(buffer, EObjectKind::Buffer))
        return false;
    delete[] static_cast<wchar_t*>(buffer);
    return true;
}
