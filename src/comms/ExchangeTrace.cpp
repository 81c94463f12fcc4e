#include "comms/ExchangeTrace.h"

#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "platform/CUniqueHandle.h"
#include "platform/Path.h"
#include "platform/TextUtil.h"

#include <cstdio>
#include <exception>
#include <string_view>

TRACE_UNIT("215ff7b0-50e8-4f28-b657-996a33883230");

namespace
{

constexpr wchar_t kMessagesFolder[] = L"Messages";
constexpr wchar_t kLineEnd[] = L"\r\n";
constexpr wchar_t kSeparator[] = L" | ";

std::wstring FileNameTime()
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    wchar_t text[40] = {};
    std::swprintf(text, 40, L" %04d.%02d.%02d %02d.%02d.%02d.%03d.log", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

std::wstring LocalTimeText()
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    std::wstring text;
    FormatTimestamp(text, now, true);
    return text;
}

void AddLine(std::wstring& record, const wchar_t* key, const std::wstring& value)
{
    record.append(key).append(value).append(kLineEnd);
}

std::wstring ProxyText(const ICommsProxyConfig& proxy)
{
    switch (proxy.GetMode())
    {
    case 0:
        return L"No proxy";
    case kProxyModeExplicit:
        return proxy.GetProxyList();
    case kProxyModeWpad:
        return std::wstring(L"WPAD (") + proxy.GetWpadUrl() + L")";
    default:
        return std::wstring();
    }
}

// The whole record in the ANSI code page, or as UTF-16LE when it does not convert.
void WriteRecord(HANDLE file, const std::wstring& record)
{
    std::string bytes;
    const void* data = nullptr;
    std::size_t size = 0;
    if (WideToBytes(record.data(), record.size(), bytes, ::GetACP()))
    {
        data = bytes.data();
        size = bytes.size();
    }
    else
    {
        TRACE_VERBOSE(kTraceFlagEvents, 10, "trace record kept as UTF-16: ANSI conversion failed with %u",
                      ::GetLastError());
        data = record.data();
        size = record.size() * sizeof(wchar_t);
    }
    DWORD written = 0;
    if (!::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) || written != size)
        TRACE_WARNING(kTraceFlagEvents, 11, "cannot write an exchange trace record: error %u", ::GetLastError());
}

} // namespace

std::wstring ExchangeTraceFolder()
{
    std::wstring folder;
    if (!GetAgentDataFolder(folder))
    {
        TRACE_WARNING(kTraceFlagEvents, 12, "no agent data folder: exchange traces go to the current folder");
        return std::wstring();
    }
    folder.append(kMessagesFolder);
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        TRACE_WARNING(kTraceFlagEvents, 13, "cannot create %ls: error %u", folder, ::GetLastError());
    return folder + L'\\';
}

void CExchangeTrace::WriteRequestTrace(IRequest& request, const std::wstring& url, DWORD error, const DWORD* status,
                                       const ICommsProxyConfig* proxyUsed)
{
    // A response record must never land in the file of an earlier exchange.
    m_path.clear();
    try
    {
        WriteRequestRecord(request, url, error, status, proxyUsed);
    }
    catch (const std::exception& failure)
    {
        m_path.clear();
        TRACE_WARNING(kTraceFlagEvents, 17, "exchange trace skipped: %s", failure.what());
    }
}

void CExchangeTrace::WriteResponseTrace(const CommsResult* result, DWORD error)
{
    try
    {
        WriteResponseRecord(result, error);
    }
    catch (const std::exception& failure)
    {
        TRACE_WARNING(kTraceFlagEvents, 18, "exchange trace of the answer skipped: %s", failure.what());
    }
}

void CExchangeTrace::WriteRequestRecord(IRequest& request, const std::wstring& url, DWORD error, const DWORD* status,
                                        const ICommsProxyConfig* proxyUsed)
{
    const std::wstring description = request.GetDescription();
    for (const wchar_t c : description)
    {
        if (IsRefusedInFileName(c))
        {
            TRACE_VERBOSE(kTraceFlagEvents, 14, "no exchange trace for %ls: not a file name", description);
            return;
        }
    }
    const std::wstring path = ExchangeTraceFolder() + description + FileNameTime();

    std::wstring record = L"[REQUEST]\r\n";
    AddLine(record, L"Time=", LocalTimeText());
    AddLine(record, L"Verb=", request.GetVerb());
    AddLine(record, L"URL=", url);
    AddLine(record, L"User-Agent=", request.GetUserAgent());
    if (proxyUsed != nullptr)
        AddLine(record, L"Proxy=", ProxyText(*proxyUsed));
    HeaderMap headers;
    request.GetHeaders(headers);
    if (!headers.empty())
    {
        std::wstring joined;
        for (const auto& [name, value] : headers)
            joined.append(name).append(L": ").append(value).append(kSeparator);
        AddLine(record, L"Headers=", joined);
    }
    if (const IRequestBody* body = request.GetBody())
    {
        if (body->IsCompressed())
            AddLine(record, L"BodyIsCompressed=true", std::wstring());
        const BYTE* data = body->GetData(true);
        const DWORD length = body->GetLength(true);
        std::wstring text;
        if (data != nullptr && length > 0 &&
            BytesToWide(reinterpret_cast<const char*>(data), length, text, CP_UTF8) && !text.empty())
            AddLine(record, L"Body=", text);
    }
    if (error != ERROR_SUCCESS)
        AddLine(record, L"LastError=", Int32ToText(static_cast<std::int32_t>(error)));
    if (status != nullptr && *status != 0)
        AddLine(record, L"HTTPStatusCode=", UInt32ToText(*status));

    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
    {
        TRACE_WARNING(kTraceFlagEvents, 15, "cannot create exchange trace %ls: error %u", path, ::GetLastError());
        return;
    }
    m_path = path;
    WriteRecord(file.Get(), record);
}

void CExchangeTrace::WriteResponseRecord(const CommsResult* result, DWORD error)
{
    if (m_path.empty())
        return;
    std::wstring record = L"\r\n[RESPONSE]\r\n";
    if (error != ERROR_SUCCESS)
        AddLine(record, L"LastError=", Int32ToText(static_cast<std::int32_t>(error)));
    AddLine(record, L"Time=", LocalTimeText());
    if (result != nullptr && result->m_size == kCommsResultSize)
    {
        if (result->m_status != 0)
            AddLine(record, L"HTTPStatusCode=", UInt32ToText(result->m_status));
        std::wstring content;
        if (result->m_content != nullptr && result->m_contentLength > 0 &&
            BytesToWide(reinterpret_cast<const char*>(result->m_content), result->m_contentLength, content,
                        ::GetACP()))
            AddLine(record, L"ResponseContent=", content);
        if (result->m_headers != nullptr)
        {
            std::wstring headers = result->m_headers;
            for (std::size_t at = headers.find(kLineEnd); at != std::wstring::npos;
                 at = headers.find(kLineEnd, at + 3))
                headers.replace(at, 2, kSeparator);
            AddLine(record, L"Headers=", headers);
        }
    }

    CFileHandle file(::CreateFileW(m_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
    {
        TRACE_WARNING(kTraceFlagEvents, 16, "cannot open exchange trace %ls: error %u", m_path, ::GetLastError());
        return;
    }
    WriteRecord(file.Get(), record);
}
