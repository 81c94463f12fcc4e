#pragma once
// WinHTTP for this component, with an owner for its handles.

#include "platform/CUniqueHandle.h"

#include <winhttp.h>

using CInternetHandle = CUniqueHandle<HINTERNET, ClosedBy<HINTERNET, ::WinHttpCloseHandle>>;
