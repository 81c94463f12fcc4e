#pragma once
// The credentials that sign a call to the management server or to one of its data services, as the
// communications component receives them (request send-signed and data-service client creation). The
// component computes the signature; the record only carries what it needs.
//
// Shared by the plug-in and the stand-in component; binary contract between modules built by this toolchain
// (std::string and std::wstring cross the boundary: both sides must use the same C++ runtime layout).

#include "platform/Win.h"

#include <string>

constexpr DWORD kAuthorizationScheme1 = 1;   // "KWS"
constexpr DWORD kAuthorizationScheme2 = 2;   // "KWS2"

struct AuthorizationRecord
{
    DWORD m_scheme = 0;              // kAuthorizationScheme1 or kAuthorizationScheme2
    SYSTEMTIME m_requestTime = {};   // UTC; all zero when the caller gave none
    std::string m_secret;            // UTF-8
    std::wstring m_authorizationId;
    std::wstring m_schemeName;       // "KWS" or "KWS2"
    bool m_signRequest = false;      // true for web API calls, false for data services
};
