#pragma once
// Call counts kept in the process environment, so that a test can still read them after the library that
// counted has been unloaded.

#include "platform/Win.h"

#include <cwchar>
#include <string>

inline void CountCall(const wchar_t* name)
{
    wchar_t value[16] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, 16);
    const unsigned long count = length > 0 && length < 16 ? std::wcstoul(value, nullptr, 10) : 0;
    ::SetEnvironmentVariableW(name, std::to_wstring(count + 1).c_str());
}
