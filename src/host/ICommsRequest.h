#pragma once
// A request of the communications component (ICommsWrapper slot 6 opens it, slot 7 releases it) and the
// result record that it hands out after an exchange (released through ICommsWrapper slot 11).
//
// A request carries one exchange: add headers, set proxy and trust, then Send, SendSigned or DownloadToFile
// once; GetResult then describes the server's answer. Texts are wide C strings owned by the caller; the
// request copies what it keeps, including the routes of a proxy list and the rules of a trust object, so
// those may be released before the request is.
//
// Error numbers: 0 when the server answered (whatever its HTTP status; the status is in the result record),
// else a Windows or WinHTTP error number (ERROR_WINHTTP_CANNOT_CONNECT, ERROR_WINHTTP_TIMEOUT, ...).
// DownloadToFile returns ERROR_CONTINUE (1246) when the server answered with a status other than 2xx; the
// file is then left untouched.
//
// Shared by the plug-in and the stand-in component; binary contract between modules built by this toolchain.

#include "host/AuthorizationRecord.h"
#include "host/ICertificateTrust.h"
#include "host/ICommsProxy.h"

// Request flags (ICommsWrapper::OpenRequest); other bits are ignored.
constexpr DWORD kRequestNoRedirects = 0x1;    // a 3xx answer is the result, not followed
constexpr DWORD kRequestNoCookies = 0x2;      // no cookie is stored or sent
constexpr DWORD kRequestReload = 0x4;         // "Cache-Control: no-cache" towards caches on the way
constexpr DWORD kRequestNoAutoLogon = 0x8;    // the Windows logon is never offered to the server

// The server's answer. The texts and bytes belong to the record.
struct CommsResult
{
    DWORD m_size;              // sizeof(CommsResult) (kCommsResultSize) once filled
    DWORD m_reserved;
    DWORD m_status;            // HTTP status
    const wchar_t* m_headers;  // raw response headers, lines ending with CR LF, status line first; may be null
    const BYTE* m_content;     // the body (not for downloads); null when there is none
    DWORD m_contentLength;
    SYSTEMTIME m_time;         // UTC: the server's "Date", else the local clock when the answer arrived
};

constexpr DWORD kCommsResultSize = sizeof(CommsResult);
#ifndef _WIN64
static_assert(sizeof(CommsResult) == 40, "the 32-bit record is 40 bytes");
#endif

class ICommsRequest
{
public:
    virtual ~ICommsRequest() = default;   // slot 0
    // Slot 1: sends the body (data may be null when length is 0).
    [[nodiscard]] virtual DWORD Send(const wchar_t* contentType, const void* data, DWORD length) = 0;
    // Slot 2: as Send, with an "Authorization" header computed from the record (README of the stand-in).
    // The signing option is accepted for compatibility; every value signs the same way.
    [[nodiscard]] virtual DWORD SendSigned(const wchar_t* contentType, const void* data, DWORD length,
                                           DWORD signingOption, const AuthorizationRecord* authorization) = 0;
    // Slot 3: sends without a body and writes the body of a 2xx answer to path (replacing the file).
    [[nodiscard]] virtual DWORD DownloadToFile(const wchar_t* path) = 0;
    // Slot 4: *result receives a new record (ERROR_INVALID_STATE before an exchange has been answered).
    [[nodiscard]] virtual DWORD GetResult(CommsResult** result) = 0;
    virtual void Reserved5() = 0;
    virtual void SetProxy(ICommsProxyList* proxies) = 0;   // slot 6: null means a direct connection
    // Slot 7: false for an empty name or a name or value that holds CR or LF.
    [[nodiscard]] virtual bool AddHeader(const wchar_t* name, const wchar_t* value) = 0;
    virtual void Reserved8() = 0;
    // Slot 9: the buffer a signed send produced (the "Authorization" header value as a wide C string), or
    // null; the caller gives it back through ICommsWrapper slot 10. Handed out once.
    virtual void* TakeBuffer() = 0;
    // Slot 10: fills config (made by ICommsWrapper slot 3) with the route the last exchange used: mode 0 for
    // a direct connection, kProxyModeExplicit with the proxy text, kProxyModeWpad with the PAC address.
    // False before an exchange or for a configuration this component did not make.
    [[nodiscard]] virtual bool GetProxyUsed(ICommsProxyConfig* config) = 0;
    virtual void Reserved11() = 0;
    virtual void SetCertificateTrust(ICertificateTrust* trust) = 0;   // slot 12
};
