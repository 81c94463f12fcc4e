#pragma once
// An export of a loaded library as the function type the test declares; null when it is missing.

#include "platform/Win.h"

template <typename Fn>
Fn ModuleExport(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}
