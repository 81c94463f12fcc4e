#pragma once
// WinHTTP for this component, with an owner for its handles.

#include "platform/CUniqueHandle.h"

#include <winhttp.h>

struct InternetHandleTraits
{
    static HINTERNET None() noexcept { return nullptr; }
    static void Close(HINTERNET h) noexcept { ::WinHttpCloseHandle(h); }
};

using CInternetHandle = CUniqueHandle<HINTERNET, InternetHandleTraits>;
