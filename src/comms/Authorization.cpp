#include "comms/Authorization.h"

#include "host/Trace.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>

TRACE_UNIT("916ad050-7f1e-4ada-9d09-dd0d48951245");

namespace
{

constexpr wchar_t kAuthorizationGroup[] = L"Authorization";
constexpr wchar_t kIdKey[] = L"AuthorizationId";
constexpr wchar_t kServiceKey[] = L"AuthorizationService";
constexpr wchar_t kVersionKey[] = L"AuthorizationServiceVersion";
constexpr wchar_t kSecretKey[] = L"Secret";
constexpr wchar_t kVersionedService[] = L"KWS";
constexpr wchar_t kScheme1Name[] = L"KWS";
constexpr wchar_t kScheme2Name[] = L"KWS2";
constexpr DWORD kValueCapacity = 256;

DWORD ReadValue(IConfigUtil& configUtil, const wchar_t* section, const wchar_t* key, std::wstring& value)
{
    wchar_t buffer[kValueCapacity] = {};
    DWORD size = kValueCapacity;
    const DWORD result = configUtil.QuerySectionValue(section, kAuthorizationGroup, key, buffer, &size, 0);
    // Bounded: a component that fills the whole buffer need not have left a terminator.
    if (result == ERROR_SUCCESS)
        value.assign(buffer, std::find(buffer, buffer + kValueCapacity, L'\0'));
    return result;
}

// Scheme 1 unless the service is exactly "KWS" and its version reads as 2. Nothing here fails the read.
DWORD ChooseScheme(IConfigUtil& configUtil, const wchar_t* section)
{
    std::wstring service;
    DWORD result = ReadValue(configUtil, section, kServiceKey, service);
    if (result != ERROR_SUCCESS)
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "no %ls in %ls: error %u, scheme 1", kServiceKey, section, result);
        return kAuthorizationScheme1;
    }
    if (service != kVersionedService)
    {
        TRACE_ERROR(kTraceFlagEvents, 11, "%ls %ls in %ls is not KWS: scheme 1", kServiceKey, service, section);
        return kAuthorizationScheme1;
    }
    std::wstring versionText;
    result = ReadValue(configUtil, section, kVersionKey, versionText);
    if (result != ERROR_SUCCESS)
    {
        TRACE_ERROR(kTraceFlagEvents, 12, "no %ls in %ls: error %u, scheme 1", kVersionKey, section, result);
        return kAuthorizationScheme1;
    }
    std::int32_t version = 0;
    bool overflowed = false;
    if (!ReadLeadingInt32(versionText, version, &overflowed) || overflowed)
    {
        TRACE_ERROR(kTraceFlagEvents, 13, "%ls %ls in %ls is no 32-bit number: scheme 1", kVersionKey, versionText,
                    section);
        return kAuthorizationScheme1;
    }
    return version == 2 ? kAuthorizationScheme2 : kAuthorizationScheme1;
}

bool Read(IConfigUtil& configUtil, AuthorizationRecord& out, const wchar_t* section, const SYSTEMTIME* requestTime,
          bool signRequest)
{
    AuthorizationRecord record;
    if (requestTime != nullptr)
        record.m_requestTime = *requestTime;
    record.m_signRequest = signRequest;

    DWORD result = ReadValue(configUtil, section, kIdKey, record.m_authorizationId);
    if (result != ERROR_SUCCESS)
    {
        TRACE_ERROR(kTraceFlagEvents, 14, "no %ls in %ls: error %u", kIdKey, section, result);
        return false;
    }
    record.m_scheme = ChooseScheme(configUtil, section);
    record.m_schemeName = record.m_scheme == kAuthorizationScheme2 ? kScheme2Name : kScheme1Name;

    std::wstring secret;
    result = ReadValue(configUtil, section, kSecretKey, secret);
    if (result != ERROR_SUCCESS)
    {
        TRACE_ERROR(kTraceFlagEvents, 15, "no %ls in %ls: error %u", kSecretKey, section, result);
        return false;
    }
    if (!WideToBytes(secret, record.m_secret, CP_UTF8))
    {
        TRACE_ERROR(kTraceFlagEvents, 16, "%ls of %ls cannot be written as UTF-8: error %u", kSecretKey, section,
                    ::GetLastError());
        return false;
    }
    out = std::move(record);
    return true;
}

} // namespace

bool ReadAuthorization(IConfigUtil* configUtil, AuthorizationRecord& out, const wchar_t* section,
                       const SYSTEMTIME* requestTime, bool signRequest)
{
    if (configUtil == nullptr || section == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 17, "authorization needs a configuration utility and a section");
        return false;
    }
    try
    {
        return Read(*configUtil, out, section, requestTime, signRequest);
    }
    catch (const std::exception& failure)
    {
        TRACE_ERROR(kTraceFlagEvents, 18, "cannot read the authorization of %ls: %s", section, failure.what());
        return false;
    }
}
