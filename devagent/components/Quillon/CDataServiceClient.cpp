#include "CDataServiceClient.h"

#include "Signing.h"
#include "WireText.h"
#include "host/ICommsRequest.h"
#include "platform/TextUtil.h"

#include <new>

namespace
{

constexpr wchar_t kOctetStream[] = L"application/octet-stream";
constexpr wchar_t kQueueContentType[] = L"text/plain; charset=utf-8";

std::wstring Trimmed(std::wstring text)
{
    while (!text.empty() && (text.back() == L'/' || text.back() == L'\\'))
        text.pop_back();
    size_t start = 0;
    while (start < text.size() && (text[start] == L'/' || text[start] == L'\\'))
        ++start;
    return text.substr(start);
}

bool IsHeaderText(const std::wstring& text, bool name)
{
    if (name && text.empty())
        return false;
    return text.find_first_of(name ? L"\r\n:" : L"\r\n") == std::wstring::npos;
}

std::wstring FileNameOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool Present(const wchar_t* text)
{
    return text != nullptr && *text != L'\0';
}

} // namespace

bool MakeDataServiceSettings(const wchar_t* userAgent, const wchar_t* hostname, const wchar_t* service, int product,
                             const wchar_t* productVersion, const wchar_t* deviceId,
                             const AuthorizationRecord* authorization, const wchar_t* pathPrefix,
                             const wchar_t* siteId, DataServiceSettings& settings)
{
    if (!Present(hostname) || !Present(service))
        return false;
    DataServiceSettings made;
    made.userAgent = TextOrEmpty(userAgent);
    std::wstring host = hostname;
    while (!host.empty() && host.back() == L'/')
        host.pop_back();
    if (host.find(L"://") == std::wstring::npos)
        host = L"https://" + host;
    made.base = host;
    const std::wstring prefix = Trimmed(TextOrEmpty(pathPrefix));
    if (!prefix.empty())
        made.base += L"/" + prefix;
    made.base += L"/" + PercentEncode(service, true);
    made.deviceId = TextOrEmpty(deviceId);
    made.siteId = TextOrEmpty(siteId);
    made.product = product;
    made.productVersion = TextOrEmpty(productVersion);
    if (authorization != nullptr)
    {
        made.signs = true;
        made.authorization = *authorization;
    }
    HttpTarget target;
    if (ParseTarget(made.base.c_str(), target) != ERROR_SUCCESS)
        return false;
    settings = std::move(made);
    return true;
}

void CDataServiceClient::SetProxy(ICommsProxyList* proxies)
{
    try
    {
        m_routes = RoutesOf(proxies);
    }
    catch (const std::bad_alloc&)
    {
        m_routes.clear();
    }
}

void CDataServiceClient::SetCertificateTrust(ICertificateTrust* trust)
{
    try
    {
        TrustRules rules;
        if (RulesOf(trust, rules))
            m_trust = std::move(rules);
    }
    catch (const std::bad_alloc&)
    {
    }
}

bool CDataServiceClient::Run(const wchar_t* verb, const std::wstring& path, HttpHeaders headers, const void* body,
                             size_t bodyLength, const std::wstring& bodyFile)
{
    HttpExchangeSpec plan;
    if (ParseTarget((m_settings.base + path).c_str(), plan.target) != ERROR_SUCCESS)
        return false;
    plan.verb = verb;
    plan.userAgent = m_settings.userAgent;
    plan.flags = kRequestNoCookies | kRequestNoAutoLogon;
    plan.routes = m_routes;
    plan.trust = m_trust;
    plan.body = body;
    plan.bodyLength = bodyLength;
    plan.bodyFile = bodyFile;
    plan.headers = {
        {L"x-device-id", m_settings.deviceId},
        {L"x-site-id", m_settings.siteId},
        {L"x-product", std::to_wstring(m_settings.product)},
        {L"x-product-version", m_settings.productVersion},
    };
    for (auto& header : headers)
        plan.headers.push_back(std::move(header));
    for (const auto& [name, value] : plan.headers)
        if (!IsHeaderText(name, true) || !IsHeaderText(value, false))
            return false;
    if (m_settings.signs)
    {
        std::wstring bodyHash = kUnsignedPayload;
        if (m_settings.authorization.m_signRequest &&
            !(bodyFile.empty() ? BodyHashOfBytes(body, bodyLength, bodyHash) : BodyHashOfFile(bodyFile, bodyHash)))
            return false;
        SignatureHeaders signature;
        if (!SignRequest(m_settings.authorization, plan.verb, plan.target.pathAndQuery, bodyHash, signature))
            return false;
        plan.headers.emplace_back(L"Authorization", signature.authorization);
        plan.headers.emplace_back(kSignatureDateHeader, signature.date);
    }
    HttpOutcome outcome;
    return RunExchange(plan, outcome) == ERROR_SUCCESS && outcome.status >= 200 && outcome.status <= 299;
}

bool CDataServiceClient::UploadFile(const wchar_t* container, const wchar_t* name, const wchar_t* filePath)
{
    if (!Present(container) || !Present(name) || !Present(filePath))
        return false;
    try
    {
        return Run(L"PUT", L"/" + PercentEncode(container, true) + L"/" + PercentEncode(name, true),
                   {{L"Content-Type", kOctetStream}}, nullptr, 0, filePath);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool CDataServiceClient::SendToQueue(const wchar_t* queue, const wchar_t* message, const wchar_t* label)
{
    if (!Present(queue) || message == nullptr)
        return false;
    try
    {
        const std::string body = WideToUtf8(message);
        HttpHeaders headers{{L"Content-Type", kQueueContentType}};
        if (Present(label))
            headers.emplace_back(L"x-message-label", label);
        return Run(L"POST", L"/" + PercentEncode(queue, true) + L"/messages", std::move(headers), body.data(),
                   body.size(), L"");
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool CDataServiceClient::UploadToDataContainer(const wchar_t* operationId, const wchar_t* owner,
                                               const wchar_t* filePath, const wchar_t* contentType,
                                               const DataServiceHeaders& headers)
{
    if (!Present(operationId) || !Present(filePath))
        return false;
    try
    {
        const std::wstring fileName = FileNameOf(filePath);
        if (fileName.empty())
            return false;
        HttpHeaders sent{{L"Content-Type", Present(contentType) ? contentType : kOctetStream},
                         {L"x-operation-id", operationId},
                         {L"x-owner", TextOrEmpty(owner)}};
        for (const auto& [name, value] : headers)
            sent.emplace_back(name, value);
        return Run(L"PUT", L"/" + PercentEncode(operationId, true) + L"/" + PercentEncode(fileName, true),
                   std::move(sent), nullptr, 0, filePath);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}
