#include "comms/WebApiRequest.h"

#include "host/CConfigHelper.h"
#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "platform/TextUtil.h"
#include "platform/Uuid.h"

#include <algorithm>
#include <cwctype>
#include <utility>

TRACE_UNIT("14d71a2c-7821-447c-afe8-12397b05e45e");

namespace
{

constexpr wchar_t kCommunicationsSection[] = L"Communications";
constexpr wchar_t kDefaultsEntry[] = L"Defaults";
constexpr wchar_t kMessageIdHeader[] = L"x-korvo-messageId";
constexpr wchar_t kMessageDateHeader[] = L"x-korvo-messageDate";

void ToForwardSlashes(std::wstring& text)
{
    std::replace(text.begin(), text.end(), L'\\', L'/');
}

bool EqualsNoCase(const std::wstring& a, const wchar_t* b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

// [from, to) without leading and trailing U+0020.
std::wstring TrimBlanks(const std::wstring& text, std::size_t from, std::size_t to)
{
    while (from < to && text[from] == L' ')
        ++from;
    while (to > from && text[to - 1] == L' ')
        --to;
    return text.substr(from, to - from);
}

std::wstring NewMessageId()
{
    std::wstring id;
    // A local-only UUID is still unique on this machine, which is all a message id needs.
    const RPC_STATUS status = NewUuidText(id, false);
    if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY)
        TRACE_ERROR(kTraceFlagEvents, 10, "cannot create a message id: status %d", static_cast<int>(status));
    return id;
}

std::wstring NowUtcText()
{
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    std::wstring text;
    FormatTimestamp(text, now, false);
    return text;
}

// Drops "?name={...}" and "&name={...}" pieces whose placeholder stayed unfilled, then makes the first
// remaining separator the "?" that starts the query. A placeholder before the query is no parameter: it stays.
void DropUnfilledQueryParameters(std::wstring& url)
{
    const std::size_t query = url.find_first_of(L"?&");
    if (query == std::wstring::npos)
        return;
    for (std::size_t at = query;;)
    {
        const std::size_t open = url.find(L'{', at);
        if (open == std::wstring::npos)
            break;
        const std::size_t close = url.find(L'}', open + 1);
        if (close == std::wstring::npos)
            break;
        const std::size_t separator = url.find_last_of(L"?&", open);
        if (separator == std::wstring::npos) // its separator went with a piece dropped before it
        {
            at = close + 1;
            continue;
        }
        url.erase(separator, close - separator + 1);
        at = separator;
    }
    const std::size_t first = url.find_first_of(L"?&");
    if (first != std::wstring::npos)
        url[first] = L'?';
}

} // namespace

bool ParseHeaderLines(const std::wstring& text, HeaderMap& out)
{
    std::size_t at = 0;
    while (at < text.size())
    {
        const std::size_t colon = text.find(L':', at);
        if (colon == std::wstring::npos)
            return true;
        const std::size_t lineFeed = text.find(L'\n', at);
        std::size_t end = lineFeed == std::wstring::npos ? text.size() : lineFeed;
        const std::size_t next = lineFeed == std::wstring::npos ? text.size() : lineFeed + 1;
        // Only a real CR is dropped: a bare LF line keeps its last character.
        if (end > at && text[end - 1] == L'\r')
            --end;
        if (colon >= end)
        {
            at = next;
            continue;
        }
        std::wstring name = TrimBlanks(text, at, colon);
        std::wstring value = TrimBlanks(text, colon + 1, end);
        if (name.empty() || value.empty())
        {
            TRACE_WARNING(kTraceFlagEvents, 12, "header line without %ls at offset %zu",
                          name.empty() ? L"name" : L"value", at);
            return false;
        }
        out.emplace(std::move(name), std::move(value));
        at = next;
    }
    return true;
}

WebApiRequest::WebApiRequest(IConfigUtil* configUtil, const std::wstring& label, IRequestBody* body,
                             std::wstring serviceName, UrlParameterMap urlParameters, std::wstring resource)
    : m_configUtil(CConfigHelper::Resolve(configUtil)),
      m_serviceName(std::move(serviceName)), m_body(body), m_resource(std::move(resource)),
      m_description(m_serviceName), m_urlParameters(std::move(urlParameters))
{
    if (!label.empty())
        m_description.append(L" ").append(label);
    if (m_configUtil == nullptr)
        TRACE_WARNING(kTraceFlagEvents, 13, "request %ls has no configuration: URL, verb and User-Agent stay empty",
                      m_description);
}

std::wstring WebApiRequest::ReadSetting(const wchar_t* key) const
{
    std::wstring value;
    if (m_configUtil == nullptr)
        return value;
    if (!m_serviceName.empty())
    {
        const std::wstring serviceKey = std::wstring(kCommunicationsSection) + L'.' + m_serviceName + L'.' + key;
        // ReadConfigValue gives the value back to the component on every path.
        if (ReadConfigValue(serviceKey.c_str(), value, m_configUtil) == ERROR_SUCCESS && !value.empty())
            return value;
        value.clear();
    }
    const std::wstring defaultKey = std::wstring(kCommunicationsSection) + L'.' + kDefaultsEntry + L'.' + key;
    if (ReadConfigValue(defaultKey.c_str(), value, m_configUtil) != ERROR_SUCCESS)
        value.clear();
    return value;
}

std::wstring WebApiRequest::ComposeConfiguredUrl() const
{
    std::wstring scheme = ReadSetting(L"Scheme");
    std::wstring host = ReadSetting(L"Hostname");
    std::wstring path = ReadSetting(L"Path");
    std::wstring resource = m_resource;
    for (std::wstring* piece : {&scheme, &host, &path, &resource})
        ToForwardSlashes(*piece);

    std::wstring url = scheme;
    if (scheme.find_first_of(L":/") == std::wstring::npos)
        url.append(L"://");
    if (!host.empty())
    {
        url.append(host);
        if (url.back() != L'/')
            url.push_back(L'/');
    }
    if (!path.empty())
        url.append(path, path.front() == L'/' ? 1 : 0, std::wstring::npos);
    url.append(resource);
    return url;
}

bool WebApiRequest::FillPlaceholders()
{
    if (m_urlParameters.empty())
        return true;
    std::size_t at = 0;
    for (;;)
    {
        const std::size_t open = m_url.find(L'{', at);
        if (open == std::wstring::npos)
            return true;
        const std::size_t close = m_url.find(L'}', open + 1);
        if (close == std::wstring::npos)
        {
            TRACE_ERROR(kTraceFlagEvents, 14, "request %ls: unterminated placeholder in %ls", m_description, m_url);
            m_url.clear();
            return false;
        }
        const auto found = m_urlParameters.find(m_url.substr(open + 1, close - open - 1));
        if (found == m_urlParameters.end())
        {
            at = close + 1;
            continue;
        }
        if (found->second.empty())
        {
            TRACE_ERROR(kTraceFlagEvents, 15, "request %ls: URL parameter %ls is empty", m_description, found->first);
            m_url.clear();
            return false;
        }
        m_url.replace(open, close - open + 1, found->second);
        // A value may hold braces itself: they are not placeholders.
        at = open + found->second.size();
    }
}

void WebApiRequest::RebuildDescription()
{
    if (m_serviceName == kDownloadService)
    {
        m_description = kDownloadService;
        if (!m_url.empty())
        {
            const std::size_t slash = m_url.rfind(L'/');
            m_description.append(L" ").append(slash == std::wstring::npos ? m_url : m_url.substr(slash + 1));
        }
    }
    else if (m_serviceName.empty())
    {
        std::wstring verb = m_verb;
        std::transform(verb.begin(), verb.end(), verb.begin(),
                       [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
        const std::size_t scheme = m_url.find(L"://");
        const std::size_t hostStart = scheme == std::wstring::npos ? 0 : scheme + 3;
        const std::size_t hostEnd = m_url.find(L'/', hostStart);
        m_description =
            verb + L' ' +
            m_url.substr(hostStart, hostEnd == std::wstring::npos ? std::wstring::npos : hostEnd - hostStart);
    }
}

void WebApiRequest::AssignUrl(std::wstring url)
{
    m_url = std::move(url);
    m_urlFilled = false;
    RebuildDescription();
}

std::wstring WebApiRequest::GetDescription() const
{
    return m_description;
}

void WebApiRequest::SetBaseUrl(const std::wstring& url)
{
    m_url = url + m_resource;
    ToForwardSlashes(m_url);
    static_cast<void>(FillPlaceholders());   // a failure clears the URL, traced
    m_urlFilled = true;
    RebuildDescription();
}

std::wstring WebApiRequest::GetUrl()
{
    const bool composed = !m_serviceName.empty() && m_serviceName != kDownloadService;
    if (composed)
        m_url = ComposeConfiguredUrl();
    // A URL filled by SetBaseUrl is not filled again: braces its values brought are no placeholders.
    if ((!composed && m_urlFilled) || FillPlaceholders())
        DropUnfilledQueryParameters(m_url);
    return m_url;
}

std::wstring WebApiRequest::GetVerb() const
{
    if (m_serviceName.empty())
        return m_verb;
    std::wstring verb = ReadSetting(L"Verb");
    if (verb.empty() && m_serviceName == kDownloadService)
        verb = L"GET";
    return verb;
}

std::wstring WebApiRequest::GetUserAgent() const
{
    return ReadSetting(L"User-Agent");
}

void WebApiRequest::SetUrlParameters(const UrlParameterMap& parameters)
{
    m_urlParameters = parameters;
    m_urlFilled = false;
}

IRequestBody* WebApiRequest::GetBody() const
{
    return m_body;
}

void WebApiRequest::GetHeaders(HeaderMap& out)
{
    // Only absent names are filled, so a request sent again keeps its first message id and date.
    if (m_headers.find(kMessageIdHeader) == m_headers.end())
        m_headers.emplace(kMessageIdHeader, NewMessageId());
    if (m_headers.find(kMessageDateHeader) == m_headers.end())
        m_headers.emplace(kMessageDateHeader, NowUtcText());
    const std::wstring verb = GetVerb();
    if (EqualsNoCase(verb, L"PUT") || EqualsNoCase(verb, L"POST"))
    {
        m_headers.emplace(L"Accept", L"application/json");
        m_headers.emplace(L"Accept-encoding", L"gzip");
    }
    else if (EqualsNoCase(verb, L"GET"))
    {
        m_headers.emplace(L"Accept", L"*/*");
    }
    out = m_headers;
}

void WebApiRequest::AddHeader(const std::wstring& name, const std::wstring& value)
{
    m_headers.emplace(name, value);
}

bool WebApiRequest::AddHeadersFromText(const std::wstring& text)
{
    HeaderMap parsed;
    if (!ParseHeaderLines(text, parsed))
        return false;
    AddHeaders(parsed);
    return true;
}

void WebApiRequest::AddHeaders(const HeaderMap& headers)
{
    m_headers.insert(headers.begin(), headers.end());
}

bool WebApiRequest::ParseHeaderText(const std::wstring& text, HeaderMap& out) const
{
    out.clear();
    return ParseHeaderLines(text, out);
}

void WebApiRequest::SetHeaders(const HeaderMap& headers)
{
    m_headers = headers;
}

void WebApiRequest::SetRequestFlags(DWORD flags)
{
    m_requestFlags = flags;
}

DWORD WebApiRequest::GetRequestFlags() const
{
    return m_requestFlags;
}

void WebApiRequest::SetVerb(std::wstring verb)
{
    m_verb = std::move(verb);
}
