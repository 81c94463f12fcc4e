#pragma once
// The parts of a URL as ICommsWrapper::SplitUrl (slot 12) gives them: each text points into the caller's
// URL (not terminated, valid while that URL is) with its length in characters; an absent part has length 0.
// The caller passes the record zeroed.
//
// Shared by the plug-in and the stand-in component; binary contract between modules built by this toolchain.

#include "platform/Win.h"

struct CommsUrlComponents
{
    const wchar_t* m_scheme;
    DWORD m_schemeLength;
    const wchar_t* m_host;
    DWORD m_hostLength;
    const wchar_t* m_user;
    DWORD m_userLength;
    const wchar_t* m_password;
    DWORD m_passwordLength;
    const wchar_t* m_path;         // from its "/" up to "?" or "#"; empty for "http://host"
    DWORD m_pathLength;
    const wchar_t* m_extra;        // "?query" and "#fragment"
    DWORD m_extraLength;
    DWORD m_schemeKind;            // 1 http, 2 https
    WORD m_port;                   // the given port, else the scheme's
    WORD m_reserved1;
    DWORD m_reserved2[2];
};

#ifndef _WIN64
static_assert(sizeof(CommsUrlComponents) == 64, "the 32-bit record is 64 bytes");
#endif
