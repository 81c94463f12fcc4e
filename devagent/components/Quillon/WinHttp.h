#pragma once
// WinHTTP for this component, with an owner for its handles.

#include "platform/CUniqueHandle.h"

#include <winhttp.h>

using CInternetHandle = CUniqueHandle<HINTERNET, ClosedBy<HINTERNET, ::WinHttpCloseHandle>>;

// Every component of url, pointing into url; false with WinHttpCrackUrl's error set when it cannot be split.
inline bool CrackUrl(const wchar_t* url, URL_COMPONENTS& parts)
{
    parts = URL_COMPONENTS{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUserNameLength = static_cast<DWORD>(-1);
    parts.dwPasswordLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    return ::WinHttpCrackUrl(url, 0, 0, &parts) != FALSE;
}
