#pragma once
// Libraries of an install loaded by full path, and their exports as the function types the test declares.

#include "platform/CUniqueHandle.h"
#include "platform/Win.h"

#include <string>

// The library at path, its own folder searched first for what it imports.
inline CModule LoadLibraryAt(const std::wstring& path)
{
    return CModule(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

// Whether a library of that name is mapped in this process.
inline bool IsLoaded(const std::wstring& name)
{
    return ::GetModuleHandleW(name.c_str()) != nullptr;
}

// Null when the export is missing.
template <typename Fn>
Fn ModuleExport(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}
